#include "driver/run.h"

int main(int argc, char** argv) {
  return sealprobe::RunSealProbeOnThisPlatform({argv, argv + argc});
}
