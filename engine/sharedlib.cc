// libquillo.so is the engine archive linked whole; the exported C interface lives in
// frame/library.cc. Loading and unloading the library needs no work of its own.
