#include "XPCPeerAuth.hpp"

namespace wexla::kit {

std::string XPCPeerAuth::requirement(std::string_view teamID, std::string_view bundleID) {
  std::string text = "identifier \"";
  text += bundleID;
  text += "\" and anchor apple generic and certificate leaf[subject.OU] = \"";
  text += teamID;
  text += "\"";
  return text;
}

}  // namespace wexla::kit
