// The commands of qzpublish, callable in-process so tests see their output
// and exit codes: 0 done, 1 verification failed, 2 refused (one line on err,
// no output file).
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace qz::publish {

int RunPublish(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace qz::publish
