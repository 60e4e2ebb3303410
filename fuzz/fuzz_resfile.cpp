// The archive reader on arbitrary bytes: Open, then every lump through
// SeekLump, LoadData and the TGA reader's stream form, as the texture loader
// reads them (without the GL upload).

#include "FuzzSupport.h"

#include "textures/ResFile.h"
#include "textures/TGALoader.h"

#include "platform/gtk/Alert.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  QuietAlerts();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& path = InputAsFile(data, size);
  RESFILE archive;
  if (!archive.Open(path.c_str())) {
    if (archive.lumps != nullptr || archive.stream.is_open()) __builtin_trap();
    return 0;
  }
  const int count = static_cast<int>(archive.header.lumpCount);
  if (archive.SeekLump(count) || archive.SeekLump(-1)) __builtin_trap();
  void* none = nullptr;
  if (archive.LoadData(count, &none) || none != nullptr) __builtin_trap();
  // A directory can hold many entries in a small file; a few dozen show every
  // path through the reader.
  for (int i = 0; i < count && i < 64; ++i) {
    void* bytes = nullptr;
    if (archive.LoadData(i, &bytes)) {
      const unsigned char* p = static_cast<unsigned char*>(bytes);
      volatile unsigned sum = 0;
      for (uint32_t k = 0; k < archive.lumps[i].size; ++k) sum = sum + p[k];
      (void)sum;
      delete[] static_cast<unsigned char*>(bytes);
    }
    if (archive.lumps[i].type != 1) continue;
    if (!archive.SeekLump(i)) __builtin_trap();
    ClearAlertsShown();
    Texture t;
    CheckReadOutcome(LoadTGA2(&t, &archive.stream), t);
  }
  archive.Close();
  archive.Close();
  return 0;
}
