#include "publish/publish_report.h"

#include <sys/stat.h>

#include <cstdio>

#include "publish/publish_crypto.h"
#include "publish/publish_error.h"

namespace qz::publish {

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20 || u == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

void WriteReport::PrintJson(std::ostream& out) const {
  out << "{\"command\":" << JsonString(command_) << ",\"written\":[";
  for (std::size_t k = 0; k < written_.size(); ++k) {
    struct stat st;
    if (stat(written_[k].c_str(), &st) != 0) throw PublishError("cannot read " + written_[k] + " back");
    out << (k ? "," : "") << "{\"path\":" << JsonString(written_[k]) << ",\"size\":" << st.st_size
        << ",\"sha256\":\"" << Sha256OfFile(written_[k]) << "\"}";
  }
  out << "],\"removed\":[";
  for (std::size_t k = 0; k < removed_.size(); ++k) out << (k ? "," : "") << JsonString(removed_[k]);
  out << "]";
  for (const auto& [name, value] : extra_) out << "," << JsonString(name) << ":" << JsonString(value);
  out << "}\n";
}

}  // namespace qz::publish
