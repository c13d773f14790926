// The translation-options editor's rules and the command-line file reader and writer.
#include "cmd_file.h"

#include <fstream>
#include <sstream>

#include "settings.h"
#include "text_util.h"

namespace quillo::desktop {

namespace {

constexpr const char* kColorNames[5] = {"BColor", "TxtColor", "LColor", "VColor", "AColor"};

struct TypeName {
  OutputType type;
  const char* name;
};
constexpr TypeName kTypeNames[] = {
    {OutputType::kHtml5, "html5"}, {OutputType::kHtml3, "html3"},     {OutputType::kHtml4, "html4"},
    {OutputType::kXhtml, "xhtml"}, {OutputType::kDocbook, "docbook"}, {OutputType::kOeb, "oeb"},
    {OutputType::kEpub, "epub"},   {OutputType::kUserDtd, "user"},
};

/// "#RRGGBB" (any case, "#" optional) as "#RRGGBB" upper case, or "" when it is no colour.
std::string NormalizeColor(const std::string& value) {
  std::string v = Trim(value);
  if (!v.empty() && v[0] == '#') v.erase(0, 1);
  if (v.size() != 6) return "";
  std::string out = "#";
  for (char c : v) {
    if (c >= '0' && c <= '9')
      out += c;
    else if (c >= 'a' && c <= 'f')
      out += static_cast<char>(c - 'a' + 'A');
    else if (c >= 'A' && c <= 'F')
      out += c;
    else
      return "";
  }
  return out;
}

bool IsOne(const std::string& v) { return v == "1"; }

}  // namespace

const char* OutputTypeName(OutputType type) {
  for (const TypeName& t : kTypeNames)
    if (t.type == type) return t.name;
  return "html5";
}

OutputType ParseOutputType(const std::string& name) {
  for (const TypeName& t : kTypeNames)
    if (name == t.name) return t.type;
  return OutputType::kHtml5;
}

StringPairs UpdateStrings(const EditorState& s) {
  StringPairs p;
  switch (s.outputType) {
    case OutputType::kHtml3:
      p.emplace_back("HTML", "3");
      break;
    case OutputType::kHtml4:
      p.emplace_back("HTML", "4");
      break;
    case OutputType::kDocbook:
      p.emplace_back("TRNFILE", "docbook.trn");
      break;
    case OutputType::kOeb:
      p.emplace_back("TRNFILE", "oeb.trn");
      break;
    case OutputType::kEpub:
      p.emplace_back("TRNFILE", "epub.trn");
      break;
    case OutputType::kUserDtd:
      p.emplace_back("TRNFILE", s.txtDTD);
      break;
    case OutputType::kXhtml:
      p.emplace_back("XHTML", "1");
      break;
    case OutputType::kHtml5:
      break;
  }
  if (s.chkCreateLogFile) p.emplace_back("CreateLogFile", "1");
  p.emplace_back("FontScale", s.txtFontScale);
  p.emplace_back("ImageExt", s.txtImageExt);
  if (!s.txtSplitDepth.empty()) p.emplace_back("SplitDepth", s.txtSplitDepth);
  if (!s.txtBackgroundImage.empty()) p.emplace_back("Background", s.txtBackgroundImage);
  if (s.chkShortFileNames) p.emplace_back("ShortNames", "1");
  if (s.chkGenIndex) p.emplace_back("GenIndex", "1");
  if (!s.txtImageDir.empty()) p.emplace_back("ImageDir", s.txtImageDir);
  if (s.chkTOCOptions[0]) p.emplace_back("genContents", "1");
  if (s.chkTOCOptions[1]) p.emplace_back("SkipLeadingTOC", "0");
  if (s.chkTOCOptions[2]) p.emplace_back("SkipTrailingTOC", "0");
  if (s.chkTOCOptions[3]) p.emplace_back("SkipNavPanel", "0");
  if (s.chkFrameOptions[0]) p.emplace_back("Framed", "1");
  if (s.chkFrameOptions[1]) p.emplace_back("GenFrames", "1");
  for (int i = 0; i < 5; ++i) {
    std::string color = NormalizeColor(s.colors[i]);
    if (!color.empty()) p.emplace_back(kColorNames[i], color);
  }
  for (const auto& pair : s.userStrings)
    if (!Trim(pair.first).empty()) p.emplace_back(Trim(pair.first), pair.second);
  return p;
}

std::string SetTranslationOptions(const EditorState& s) {
  std::string options;
  auto appendD = [&](const std::string& option) { options += " " + option; };
  switch (s.outputType) {
    case OutputType::kDocbook:
      appendD("-Dtrnfile=docbook.trn");
      break;
    case OutputType::kOeb:
      appendD("-Dtrnfile=oeb.trn");
      break;
    case OutputType::kEpub:
      appendD("-Dtrnfile=epub.trn");
      break;
    case OutputType::kUserDtd:
      appendD("-Dtrnfile=" + s.txtDTD);
      break;
    default:
      break;
  }
  return options;
}

void SetString(EditorState& s, const std::string& name, std::string value) {
  if (value == "true") value = "1";
  if (value == "false") value = "0";
  std::string key = Lower(name);
  for (int i = 0; i < 5; ++i) {
    if (key != Lower(kColorNames[i])) continue;
    std::string color = NormalizeColor(value);
    if (!color.empty()) {
      s.colors[i] = color;
      return;
    }
    break;  // not a colour: kept in the user list so that nothing read is lost
  }
  if (key == "splitdepth")
    s.txtSplitDepth = value;
  else if (key == "imageext")
    s.txtImageExt = value;
  else if (key == "background")
    s.txtBackgroundImage = value;
  else if (key == "imagedir")
    s.txtImageDir = value;
  else if (key == "fontscale")
    s.txtFontScale = value;
  else if (key == "shortnames")
    s.chkShortFileNames = IsOne(value);
  else if (key == "genindex")
    s.chkGenIndex = IsOne(value);
  else if (key == "createlogfile")
    s.chkCreateLogFile = IsOne(value);
  else if (key == "genframes")
    s.chkFrameOptions[1] = IsOne(value);
  // Framed is written by the first frame box, so it is read back into it too (otherwise it
  // would land in the user list and the box would show unchecked).
  else if (key == "framed")
    s.chkFrameOptions[0] = IsOne(value);
  else if (key == "gencontents")
    s.chkTOCOptions[0] = IsOne(value);
  else if (key == "skipleadingtoc")
    s.chkTOCOptions[1] = value == "0";
  else if (key == "skiptrailingtoc")
    s.chkTOCOptions[2] = value == "0";
  else if (key == "skipnavpanel")
    s.chkTOCOptions[3] = value == "0";
  else if (key == "html") {
    if (value == "3")
      s.outputType = OutputType::kHtml3;
    else if (value == "4")
      s.outputType = OutputType::kHtml4;
  } else if (key == "xhtml") {
    if (value != "0") s.outputType = OutputType::kXhtml;
  } else if (key == "trnfile") {
    std::string v = Lower(value);
    if (v == "docbook.trn")
      s.outputType = OutputType::kDocbook;
    else if (v == "oeb.trn")
      s.outputType = OutputType::kOeb;
    else if (v == "epub.trn")
      s.outputType = OutputType::kEpub;
    else {
      s.outputType = OutputType::kUserDtd;
      s.txtDTD = value;
    }
  } else {
    s.userStrings.emplace_back(name, value);
  }
}

CmdFileResult ParseCmdFile(const std::string& text, const std::string& path, EditorState& state) {
  std::istringstream in(text);
  std::string raw;
  bool sawStrings = false;
  bool skippingSection = false;
  while (std::getline(in, raw)) {
    std::string line = Trim(raw);
    if (line.empty() || line[0] == '#') continue;
    if (!sawStrings) {
      if (Lower(line) != ".strings") {
        return {".Strings should be the first non-comment line in " + path};
      }
      sawStrings = true;
      continue;
    }
    if (line[0] == '.') {
      std::string section = Lower(line);
      if (section == ".functions" || section == ".pmatch") {
        skippingSection = true;
        continue;
      }
      return {"Error reading " + path + "\n" + line + "\nThe rest of the file has not been read"};
    }
    if (skippingSection) continue;
    std::string::size_type comma = line.find(',');
    std::string name = Trim(comma == std::string::npos ? line : line.substr(0, comma));
    std::string value = comma == std::string::npos ? "" : Trim(line.substr(comma + 1));
    // A value ending in "\" goes on with the next line; the lines are joined by CR LF.
    while (!value.empty() && value.back() == '\\') {
      value.pop_back();
      std::string next;
      if (!std::getline(in, next)) break;
      value += "\r\n" + Trim(next);
    }
    if (name.empty()) continue;
    SetString(state, name, value);
  }
  return {};
}

CmdFileResult ReadCmdFile(const std::string& path, EditorState& state) {
  std::ifstream in(path, std::ios::binary);
  if (!in || IsDirectory(path)) return {path + " doesn't exist"};
  std::ostringstream text;
  text << in.rdbuf();
  return ParseCmdFile(text.str(), path, state);
}

std::string FormatCmdFile(const StringPairs& pairs) {
  std::string out = "# Cmd line file for quillo\n#\n.Strings\n";
  for (const auto& [name, value] : pairs) {
    std::string v;
    for (size_t i = 0; i < value.size(); ++i) {
      char c = value[i];
      if (c == '\r' && i + 1 < value.size() && value[i + 1] == '\n') continue;
      if (c == '\n' || c == '\r') {
        v += "\\\n";
        continue;
      }
      v += c;
    }
    out += name + "," + v + "\n";
  }
  return out;
}

CmdFileResult WriteCmdFile(const std::string& path, const StringPairs& pairs) {
  if (Trim(path).empty()) return {"Cmdline filename is blank, please set in View->Options"};
  return {WriteFileAtomically(path, FormatCmdFile(pairs))};
}

std::string ConversionOptions(int progressStep, const std::string& editorOptions) {
  std::string options = "-DerrCallback=true -DpercentCallback=" + std::to_string(progressStep);
  if (!editorOptions.empty()) options += " " + editorOptions;
  return options;
}

std::string CheckCmdFileName(const std::string& path) {
  if (path.find_first_of("'\"\r\n") != std::string::npos)
    return "The command-line file name may not contain quotes or line breaks: " + path;
  return "";
}

std::string EditorOptionString(const EditorState& state, const std::string& cmdFile,
                               const std::string& defaultCmdFile) {
  std::string options = SetTranslationOptions(state);
  if (!cmdFile.empty() && cmdFile != defaultCmdFile && CheckCmdFileName(cmdFile).empty()) {
    // Single quotes group a name with blanks into one option word and are dropped.
    bool blank = cmdFile.find_first_of(" \t") != std::string::npos;
    options += blank ? " '-DCmdLineFile=" + cmdFile + "'" : " -DCmdLineFile=" + cmdFile;
  }
  return options;
}

int ProgressStep(long long size) {
  if (size < 1000) return 15;
  if (size < 10000) return 10;
  if (size < 100000) return 7;
  if (size < 1000000) return 3;
  return 1;
}

}  // namespace quillo::desktop
