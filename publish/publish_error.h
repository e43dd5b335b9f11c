// A refusal of the release tool: one line for the publisher, exit code 2.
#pragma once

#include <stdexcept>

namespace qz::publish {

struct PublishError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

}  // namespace qz::publish
