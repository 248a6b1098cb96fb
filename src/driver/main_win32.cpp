#include "driver/run.h"

int wmain(int argc, wchar_t** argv) {
  return sealprobe::RunSealProbeOnThisPlatform({argv, argv + argc});
}
