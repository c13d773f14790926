// Document structure: headings, split files, contents lists, the index and frames. The built-in
// functions of the expansion language call these generators.
#pragma once

#include <string>
#include <string_view>

namespace quillo {
struct Engine;
struct OutputContext;

namespace structure {

/// Headings, file plan, contents, index and frames of the conversion.
struct StructureState {};

/// Writes the contents page; `frames` selects the frame variant.
void GenTOC(Engine& engine, int frames);
/// Contents list of the headings under the current output file's heading.
std::string GenLocalTOC(Engine& engine);
/// Contents list of the current file's peer headings.
std::string GenPeerTOC(Engine& engine);
/// Writes the index page; `frames` selects the frame variant.
void GenIndex(Engine& engine, int frames);
/// Writes the frame pages.
void GenFrames(Engine& engine);
/// Adds an index entry (text and reference); returns its running number, or -1 when none was added.
int IndexEntry(Engine& engine, std::string_view text, std::string_view reference);
/// Name of the output file that holds anchor `name` (AnchorFile step), "" when unknown.
std::string AnchorFile(Engine& engine, std::string_view name);
/// Next file of the created-files walk (ListFile), "" after the last; `restart` starts again.
std::string NextListFile(Engine& engine, bool restart);

}  // namespace structure
}  // namespace quillo
