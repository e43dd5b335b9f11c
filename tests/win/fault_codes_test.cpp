// Faults reach a program as the exceptions Windows raises for them: what a
// crash report, a structured handler or a C++ runtime sees. This holds for the
// 32-bit build too, where (on machines without 32-bit kernels) every process
// runs under an emulator that leaves the fault's kind out of the signal and
// the test tools put it back.
#include <gtest/gtest.h>
#include <windows.h>

namespace qz {
namespace {

// Each fault site: a global label on the faulting instruction, one on the
// instruction after it (where the handler resumes), then a return.
#if defined(__x86_64__)
#define QZ_SYM(name) #name
#else
#define QZ_SYM(name) "_" #name
#endif
#define QZ_FAULT_SITE(name, instruction)                                              \
  ".globl " QZ_SYM(name) "\n.globl " QZ_SYM(name##_at) "\n.globl " QZ_SYM(name##_resume) \
  "\n" QZ_SYM(name) ":\n" QZ_SYM(name##_at) ":\n" instruction "\n" QZ_SYM(name##_resume) ":\nret\n"

__asm__(".text\n" QZ_FAULT_SITE(qz_fault_read, "movl 0x10, %eax")
            QZ_FAULT_SITE(qz_fault_write, "movl $1, 0x10")
            QZ_FAULT_SITE(qz_fault_divide, "xorl %ecx, %ecx\nmovl $7, %eax\nxorl %edx, %edx\n.globl "
                                           QZ_SYM(qz_fault_divide_div) "\n" QZ_SYM(qz_fault_divide_div)
                                           ":\ndivl %ecx")
            QZ_FAULT_SITE(qz_fault_breakpoint, "int3")
            QZ_FAULT_SITE(qz_fault_illegal, "ud2")
            QZ_FAULT_SITE(qz_fault_privileged, "hlt"));

extern "C" {
#define QZ_DECLARE_SITE(name) \
  void name();                \
  extern char name##_at[];    \
  extern char name##_resume[];
QZ_DECLARE_SITE(qz_fault_read)
QZ_DECLARE_SITE(qz_fault_write)
QZ_DECLARE_SITE(qz_fault_divide)
QZ_DECLARE_SITE(qz_fault_breakpoint)
QZ_DECLARE_SITE(qz_fault_illegal)
QZ_DECLARE_SITE(qz_fault_privileged)
extern char qz_fault_divide_div[];
}

struct Seen {
  DWORD code;
  void* address;
  DWORD parameters;
  ULONG_PTR info[2];
};
Seen g_seen;
void* g_resume;

LONG CALLBACK ResumeAfterFault(EXCEPTION_POINTERS* e) {
  const EXCEPTION_RECORD* r = e->ExceptionRecord;
  g_seen = {r->ExceptionCode, r->ExceptionAddress, r->NumberParameters,
            {r->NumberParameters > 0 ? r->ExceptionInformation[0] : 0,
             r->NumberParameters > 1 ? r->ExceptionInformation[1] : 0}};
#if defined(__x86_64__)
  e->ContextRecord->Rip = reinterpret_cast<DWORD64>(g_resume);
#else
  e->ContextRecord->Eip = reinterpret_cast<DWORD>(g_resume);
#endif
  return EXCEPTION_CONTINUE_EXECUTION;
}

TEST(FaultCodes, EachFaultRaisesItsOwnException) {
  struct Case {
    const char* name;
    void (*site)();
    char* at;
    char* resume;
    DWORD code;
    ULONG_PTR access;  // access violations: 0 read, 1 write
  } cases[] = {
      {"read", qz_fault_read, qz_fault_read_at, qz_fault_read_resume, EXCEPTION_ACCESS_VIOLATION, 0},
      {"write", qz_fault_write, qz_fault_write_at, qz_fault_write_resume, EXCEPTION_ACCESS_VIOLATION, 1},
      {"divide", qz_fault_divide, qz_fault_divide_div, qz_fault_divide_resume,
       EXCEPTION_INT_DIVIDE_BY_ZERO, 0},
      {"breakpoint", qz_fault_breakpoint, qz_fault_breakpoint_at, qz_fault_breakpoint_resume,
       EXCEPTION_BREAKPOINT, 0},
      {"illegal", qz_fault_illegal, qz_fault_illegal_at, qz_fault_illegal_resume,
       EXCEPTION_ILLEGAL_INSTRUCTION, 0},
      {"privileged", qz_fault_privileged, qz_fault_privileged_at, qz_fault_privileged_resume,
       EXCEPTION_PRIV_INSTRUCTION, 0},
  };
  PVOID handler = AddVectoredExceptionHandler(1, ResumeAfterFault);
  ASSERT_NE(handler, nullptr);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_seen = {};
    g_resume = c.resume;
    c.site();
    EXPECT_EQ(g_seen.code, c.code) << std::hex << g_seen.code;
    EXPECT_EQ(g_seen.address, static_cast<void*>(c.at));
    if (c.code == EXCEPTION_ACCESS_VIOLATION) {
      ASSERT_EQ(g_seen.parameters, 2u);
      EXPECT_EQ(g_seen.info[0], c.access);
      EXPECT_EQ(g_seen.info[1], 0x10u);
    }
  }
  RemoveVectoredExceptionHandler(handler);
}

}  // namespace
}  // namespace qz
