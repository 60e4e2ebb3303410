// The TGA reader's stream form on arbitrary bytes, read twice in a row from
// one stream the way the archive loader reads consecutive images.

#include "FuzzSupport.h"

#include "textures/TGALoader.h"

#include "platform/gtk/Alert.h"

#include <fstream>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  QuietAlerts();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& path = InputAsFile(data, size);
  std::ifstream stream(path, std::ios::binary);
  Texture first;
  bool ok = LoadTGA2(&first, &stream);
  CheckReadOutcome(ok, first);
  if (ok) {
    ClearAlertsShown();
    Texture second;
    CheckReadOutcome(LoadTGA2(&second, &stream), second);
  }
  return 0;
}
