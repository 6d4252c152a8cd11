// The built-in address's rule: it fits the slot, stays one browser argument, and names a host
// that a browser can open, by the launcher's own host rule.
#include "slot_address.h"

#include "../../src/address/address.h"

std::string CheckAddress(const std::string& address) {
  if (address.size() > kSlotLength)
    return "the address is " + std::to_string(address.size()) + " bytes long; the slot holds at most 180";
  if (address.compare(0, sizeof kHttps - 1, kHttps) != 0) return "the address must begin with \"https://\"";
  // A browser drops a double quote from its command line and would open another page.
  for (unsigned char c : address)
    if (c <= ' ' || c >= 0x7F || c == '"')
      return "the address holds a blank, a double quote, a control character or a non-ASCII byte; "
             "percent-encode it (%20 for a blank, %22 for a quote)";
  if (!HasHost(address.c_str()))
    return "the address names no host that a browser can open: the host follows https:// (as in "
           "https://desk.example.org/team), a port is digits up to 65535, and a host ending in a number must be an "
           "IPv4 address as a browser reads it";
  return "";
}
