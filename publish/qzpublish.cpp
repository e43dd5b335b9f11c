// qzpublish: the publisher's release tool. Makes signing keys, patch and full
// archives, and signed update manifests, and checks what is to be uploaded;
// for portals and tests it also signs launch links.
#include <iostream>

#include "publish/publish_commands.h"

int main(int argc, char** argv) {
  return qz::publish::RunPublish(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
