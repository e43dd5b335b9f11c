#include "base/run_log.h"

#include <cstdint>
#include <cstring>
#include <exception>
#include <typeinfo>

namespace qz::runlog {

std::string WithoutQueries(const std::string& text) {
  std::string out;
  std::size_t at = 0;
  for (std::size_t scheme; (scheme = text.find("://", at)) != std::string::npos;) {
    std::size_t end = scheme + 3;
    while (end < text.size() && static_cast<unsigned char>(text[end]) > 0x20 && text[end] != '"' &&
           text[end] != '\'') {
      ++end;
    }
    const std::size_t cut = text.find_first_of("?#", scheme + 3);
    if (cut >= end) {
      out.append(text, at, end - at);
    } else {
      // Punctuation that closes the address in the sentence stays.
      std::size_t tail = end;
      while (tail > cut + 1 && std::strchr(":,;)", text[tail - 1])) --tail;
      out.append(text, at, cut - at).append(text, tail, end - tail);
    }
    at = end;
  }
  return out.append(text, at, std::string::npos);
}

std::string LineText(const std::string& time, const char* phase, const std::string& text) {
  std::string line = time + " [" + (phase ? phase : "") + "] ";
  for (char c : WithoutQueries(text)) line += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
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

namespace {

constexpr std::size_t kCountBytes = 4;

std::uint32_t UsedBytes(const void* room, std::size_t size) {
  std::uint32_t used = 0;
  std::memcpy(&used, room, kCountBytes);
  return used <= size - kCountBytes ? used : static_cast<std::uint32_t>(size - kCountBytes);
}

}  // namespace

bool AppendToRoom(void* room, std::size_t size, const std::string& line) {
  if (!room || size < kCountBytes) return false;
  const std::uint32_t used = UsedBytes(room, size);
  if (line.size() > size - kCountBytes - used) return false;
  std::memcpy(static_cast<char*>(room) + kCountBytes + used, line.data(), line.size());
  const std::uint32_t now = used + static_cast<std::uint32_t>(line.size());
  std::memcpy(room, &now, kCountBytes);
  return true;
}

std::string RoomText(const void* room, std::size_t size) {
  if (!room || size < kCountBytes) return std::string();
  return std::string(static_cast<const char*>(room) + kCountBytes, UsedBytes(room, size));
}

}  // namespace qz::runlog
