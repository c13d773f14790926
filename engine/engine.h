// The engine: one object owning the state of every subsystem. The C interface works on one
// process-wide Engine; tests make their own. Each member is a plain struct that its subsystem
// reads and resets.
//
// This header holds data only: it includes the state headers (*_state.h) of the layers and no
// header of functions, so a file that includes it can call only what it includes itself, and
// the includes show the dependencies (tests/layers/check holds them to the layers of
// engine/README.md). The translation layer's state still sits in its own headers.
#pragma once

#include "base/file_table_state.h"
#include "base/hooks_state.h"
#include "base/messages_state.h"
#include "base/settings_state.h"
#include "expand/expand_state.h"
#include "frame/batch_state.h"
#include "frame/driver_state.h"
#include "frame/log_state.h"
#include "output/output_state.h"
#include "rtf/charmaps_state.h"
#include "rtf/control_words_state.h"
#include "rtf/reader_state.h"
#include "rtf/tables_state.h"
#include "structure/structure_state.h"
#include "translate/footnotes_state.h"
#include "translate/pictures_state.h"
#include "translate/table_state.h"
#include "translate/translate_state.h"
#include "trn/translation_state.h"

namespace quillo {

struct Engine {
  /// Wires the layers together: the hooks through which a lower layer reaches a higher one
  /// (output, messages, settings, the file sweep, the expansion language's built-ins) are set
  /// here, by the driver (frame/engine.cc).
  Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  LayerHooks hooks;  ///< how lower layers reach higher ones (base/hooks_state.h)
  LibraryState library;
  DriverState driver;
  FileTable files;
  SettingsStore settings;
  MessageState messages;
  TranslationTables translation;
  TranslationCache translationCache;  ///< finished loads kept for the next conversions
  rtf::ControlWordTable controlWords;
  rtf::ReaderState reader;
  rtf::CharMapState charMaps;
  rtf::DocumentTables tables;
  translate::TranslateState translate;
  translate::TableModel tableModel;
  translate::PictureState pictures;
  translate::FootnoteState footnotes;
  structure::StructureState structure;
  LogState log;
  BatchState batch;
  ExpansionState expansion;
  OutputState output;
};

/// The process-wide engine used by the C interface and the command-line converter.
Engine& GlobalEngine();

}  // namespace quillo
