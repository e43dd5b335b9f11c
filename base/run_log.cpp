#include "base/run_log.h"

#include <exception>
#include <typeinfo>

namespace qz::runlog {

std::string LineText(const std::string& time, const char* phase, const std::string& text) {
  std::string line = time + " [" + (phase ? phase : "") + "] ";
  for (char c : text) line += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
  return line + "\r\n";
}

std::string CaughtText() {
  try {
    throw;
  } catch (const std::exception& error) {
    return std::string(typeid(error).name()) + ": " + error.what();
  } catch (...) {
    return "an exception of unknown type";
  }
}

std::size_t NewerHalfStart(const std::string& content) {
  const std::size_t half = content.size() / 2;
  const std::size_t newline = content.find('\n', half > 0 ? half - 1 : 0);
  return newline == std::string::npos ? content.size() : newline + 1;
}

}  // namespace qz::runlog
