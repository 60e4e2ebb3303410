// The TGA reader's file-path form on arbitrary bytes.

#include "FuzzSupport.h"

#include "textures/TGALoader.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  QuietAlerts();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& path = InputAsFile(data, size);
  Texture t;
  bool ok = LoadTGA(&t, path.c_str());
  CheckReadOutcome(ok, t);
  return 0;
}
