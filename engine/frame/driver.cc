// PLACEHOLDER: the conversion driver is being written.
#include "frame/driver.h"

#include "engine.h"

namespace quillo {

Engine& GlobalEngine() {
  static Engine engine;  // the one process-wide engine of the C interface
  return engine;
}

int EngineInit(Engine& engine, const char*) {
  if (!engine.library.initialised) {
    ResetSettings(engine);
    engine.library.initialised = true;
  }
  return 0;
}

int ConvertFiles(Engine& engine, int, char** argv) { return EngineInit(engine, argv ? argv[0] : nullptr); }

ConvertedOutput* ConvertString(Engine&, int, char**, const char*, int* count) {
  *count = 0;
  return nullptr;
}

void FreeConvertedOutputs(ConvertedOutput*, int) {}

}  // namespace quillo
