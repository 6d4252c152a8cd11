// The stamping mode: check the whole image, strip a signature when asked, brand, fill the slot.
#include "stamp.h"

#include "signature.h"
#include "slot.h"
#include "version.h"

namespace {

std::string Brand(Image& image, const PeLayout& pe, const Branding& branding) {
  if (!branding.hasIcon && !branding.hasName) return "";
  std::vector<Resource> resources;
  std::string error = ReadResources(image, pe, &resources);
  if (error.empty() && branding.hasName) error = SetVersionName(resources, branding.name);
  if (!error.empty()) return error;
  if (branding.hasIcon) ReplaceIcon(resources, branding.images);
  return WriteResources(image, pe, resources);
}

}  // namespace

std::string StampLauncher(Image& image, const std::string& address, const Branding& branding, bool stripSignature) {
  PeLayout pe;
  size_t slot = 0;
  std::string error = CheckAddress(address);
  if (error.empty()) error = ReadPe(image, &pe);
  if (!error.empty()) return error;
  if (IsSigned(pe) && !stripSignature)
    return "it is signed, and stamping would break its signature: stamp the unsigned release, "
           "or pass --strip-signature (and sign the output afresh)";
  if (IsSigned(pe)) {
    StripSignature(image, pe);
    if (!(error = ReadPe(image, &pe)).empty()) return error;
  }
  // Branding rebuilds only what follows .data, so the slot stays where it was found.
  error = FindSlot(image, pe, &slot);
  if (error.empty()) error = Brand(image, pe, branding);
  if (error.empty()) StampSlot(image, pe, slot, address);
  return error;
}
