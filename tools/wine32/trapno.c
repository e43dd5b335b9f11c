/*
 * Preloaded into every 32-bit program that runs under the user-mode emulator.
 *
 * Wine's 32-bit signal handlers tell faults apart by the trap number that the
 * kernel leaves in the signal context (page fault, divide error, breakpoint,
 * ...). The emulator leaves -1 there, so every access violation would reach a
 * Windows program as an illegal instruction and a division by zero as a
 * floating-point fault. This library stands between Wine and its fault
 * handlers and, when the trap number is missing, derives it from the signal
 * and its code as the kernel would have set it. With a real trap number it
 * changes nothing.
 *
 * Built freestanding (no 32-bit C headers on the build machine): the few
 * i386 Linux layouts it needs are spelled out below. The handler touches no
 * thread-local data and calls no C library function, because it runs before
 * Wine has restored the C library's segment registers.
 */

typedef void (*qz_handler)(int, void *, void *);

/* glibc's struct sigaction on i386. */
struct qz_sigaction {
  qz_handler handler;
  unsigned long mask[32];
  int flags;
  void (*restorer)(void);
};

enum {
  QZ_SIGILL = 4, QZ_SIGTRAP = 5, QZ_SIGBUS = 7, QZ_SIGFPE = 8, QZ_SIGSEGV = 11,
  QZ_NSIG = 65,
  QZ_SA_SIGINFO = 4,
  QZ_SI_KERNEL = 0x80,
  QZ_FPE_INTDIV = 1, QZ_FPE_INTOVF = 2,
  QZ_TRAP_TRACE = 2,
  QZ_BUS_ADRALN = 1,
  /* x86 exception vectors, as the kernel reports them. */
  QZ_T_DIVIDE = 0, QZ_T_TRCTRAP = 1, QZ_T_BPTFLT = 3, QZ_T_OFLOW = 4, QZ_T_PRIVINFLT = 6,
  QZ_T_PROTFLT = 13, QZ_T_PAGEFLT = 14, QZ_T_ARITHTRAP = 16, QZ_T_ALIGNFLT = 17,
  /* ucontext_t on i386: flags, link, stack_t (12 bytes), then gregs[]. */
  QZ_GREGS_OFFSET = 20, QZ_REG_TRAPNO = 12,
};

extern void *dlsym(void *handle, const char *name);
#define QZ_RTLD_NEXT ((void *)-1L)

static int (*real_sigaction)(int, const struct qz_sigaction *, struct qz_sigaction *);
static qz_handler wrapped[QZ_NSIG];

static int fault_signal(int sig) {
  return sig == QZ_SIGILL || sig == QZ_SIGTRAP || sig == QZ_SIGBUS || sig == QZ_SIGFPE ||
         sig == QZ_SIGSEGV;
}

static int trap_number(int sig, int code) {
  switch (sig) {
  case QZ_SIGSEGV: return code == QZ_SI_KERNEL ? QZ_T_PROTFLT : QZ_T_PAGEFLT;
  case QZ_SIGBUS: return code == QZ_BUS_ADRALN ? QZ_T_ALIGNFLT : QZ_T_PAGEFLT;
  case QZ_SIGILL: return QZ_T_PRIVINFLT;
  case QZ_SIGTRAP: return code == QZ_TRAP_TRACE ? QZ_T_TRCTRAP : QZ_T_BPTFLT;
  case QZ_SIGFPE:
    if (code == QZ_FPE_INTDIV) return QZ_T_DIVIDE;
    if (code == QZ_FPE_INTOVF) return QZ_T_OFLOW;
    return QZ_T_ARITHTRAP;
  }
  return -1;
}

static void fix_trap_number(int sig, void *info, void *context) {
  if (!info || !context) return;
  int code = ((int *)info)[2]; /* si_signo, si_errno, si_code */
  long *trapno = (long *)((char *)context + QZ_GREGS_OFFSET) + QZ_REG_TRAPNO;
  if (*trapno == -1) *trapno = trap_number(sig, code);
}

static void fault_handler(int sig, void *info, void *context) {
  fix_trap_number(sig, info, context);
  qz_handler next = __atomic_load_n(&wrapped[sig], __ATOMIC_ACQUIRE);
  if (next) next(sig, info, context);
}

int sigaction(int sig, const struct qz_sigaction *act, struct qz_sigaction *old) {
  if (!real_sigaction) {
    real_sigaction = (int (*)(int, const struct qz_sigaction *, struct qz_sigaction *))dlsym(
        QZ_RTLD_NEXT, "sigaction");
    if (!real_sigaction) return -1;
  }
  if (sig <= 0 || sig >= QZ_NSIG || !fault_signal(sig)) return real_sigaction(sig, act, old);

  qz_handler previous = __atomic_load_n(&wrapped[sig], __ATOMIC_ACQUIRE);
  int rc;
  if (act && (act->flags & QZ_SA_SIGINFO) && act->handler) {
    struct qz_sigaction ours = *act;
    ours.handler = fault_handler;
    __atomic_store_n(&wrapped[sig], act->handler, __ATOMIC_RELEASE);
    rc = real_sigaction(sig, &ours, old);
    if (rc != 0) __atomic_store_n(&wrapped[sig], previous, __ATOMIC_RELEASE);
  } else {
    rc = real_sigaction(sig, act, old);
    if (rc == 0 && act) __atomic_store_n(&wrapped[sig], (qz_handler)0, __ATOMIC_RELEASE);
  }
  /* The caller sees its own handler, never ours. */
  if (rc == 0 && old && old->handler == fault_handler) old->handler = previous;
  return rc;
}
