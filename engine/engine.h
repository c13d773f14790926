// The engine: one object owning the state of every subsystem. The C interface works on one
// process-wide Engine; tests make their own. Each member is a plain struct that its subsystem
// reads and resets.
#pragma once

#include "base/file_table.h"
#include "base/messages.h"
#include "base/settings.h"
#include "expand/expand.h"
#include "frame/batch.h"
#include "frame/driver.h"
#include "frame/log.h"
#include "rtf/charmaps.h"
#include "rtf/control_words.h"
#include "rtf/reader.h"
#include "rtf/tables.h"
#include "structure/structure.h"
#include "translate/footnotes.h"
#include "translate/pictures.h"
#include "translate/table_model.h"
#include "translate/translate.h"
#include "trn/translation_file.h"

namespace quillo {

struct Engine {
  LibraryState library;
  DriverState driver;
  FileTable files;
  SettingsStore settings;
  MessageState messages;
  TranslationTables translation;
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
};

/// The process-wide engine used by the C interface and the command-line converter.
Engine& GlobalEngine();

}  // namespace quillo
