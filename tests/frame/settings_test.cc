// Named settings: built-in registration, case-insensitive lookup, OverrideDefs protection, mirrors,
// computed names, option parsing, output names and the library-file search.
#include "base/settings.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "base/file_table.h"
#include "base/messages.h"
#include "engine.h"
#include "support/test_support.h"

namespace quillo {
namespace {

using test::MakeEngine;
using test::TempDir;

/// Raw stored value (no computation).
const std::string& Stored(const Engine& engine, int index) {
  return engine.settings.values.at(index);
}

/// Runs ParseOptions over words given as strings (entry 0 is the program path).
int Parse(Engine& engine, std::vector<std::string> words) {
  words.insert(words.begin(), "");
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  return ParseOptions(engine, static_cast<int>(words.size()), argv.data());
}

// ---------------------------------------------------------------------------------------------
// Registration

TEST(SettingsTest, BuiltinsSitAtTheirIndexesWithTheirDefaults) {
  auto engine = MakeEngine();
  struct Case {
    int index;
    const char* name;
    const char* value;
  } cases[] = {
      {0, "PAlign", "0"},
      {kSettingRtfTitle, "rtfTitle", ""},
      {15, "Plain", "1"},
      {kSettingSubScript, "SubScript", "0"},
      {30, "ParStyle", "Normal"},
      {kSettingSubMatch0, "_0", ""},
      {kSettingSubMatch9, "_9", ""},
      {70, "ImageExt", "jpg"},
      {kSettingOutFileName, "OutFileName", ""},
      {kSettingMaxColorDiff, "MaxColorDiff", "128"},
      {kSettingWMFAdjust, "WMFAdjust", "133.3333"},
      {kSettingBMPNGAdjust, "BMPNGAdjust", "2000"},
      {kSettingTwipToPixel, "TwipToPixel", ".05"},
      {kSettingFontScale, "FontScale", ".33"},
      {kSettingShortFileDigits, "ShortFileDigits", "2"},
      {kSettingHtmlExt, "HtmlExt", "html"},
      {kSettingFCSuffix, "FCSuffix", "-FContents"},
      {kSettingFISuffix, "FISuffix", "-FIndex"},
      {kSettingFNSep, "FNSep", "<HR>"},
      {kSettingMaxTOCLevel, "MaxTOCLevel", "99"},
      {kSettingParentFile, "ParentFile", ""},
      {kSettingPNTStripChar, "PNTStripChar", " "},
      {kSettingOutMap, "OutMap", "html-mapv4.txt"},
      {kSettingTrnFile, "TrnFile", "html.trn"},
      {kSettingIndexSubMarkers, "IndexSubMarkers", ":"},
      {kSettingMaxIndexLevels, "MaxIndexLevels", "8"},
      {146, "Token", ""},
      {147, "RTFParam", "0"},
      {kSettingBackRGB, "BackRGB", ""},
      {kSettingFontFamily, "FontFamily", ""},
      {kSettingFontSizeRel, "FontSizeRel", "100"},
      {kSettingBodyFontFamily, "BodyFontFamily", ""},
      {kSettingCharLookIdx, "CharLookIdx", ""},
      {kSettingCharLooks, "CharLooks", ""},
      {kSettingParBackRGB, "ParBackRGB", ""},
      {kSettingCharLookRule, "CharLookRule", ""},
      {kSettingShiftOnly, "ShiftOnly", "0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(engine->settings.names.at(c.index), c.name);
    EXPECT_EQ(Stored(*engine, c.index), c.value);
  }
  EXPECT_EQ(kSettingCount, 157);
  // Message texts follow the built-ins; TransCMD and UserConfigDir come last.
  EXPECT_EQ(engine->settings.names.at(kSettingCount), "MSG_TMP_OPEN_FAIL");
  EXPECT_EQ(engine->settings.names.at(engine->settings.names.size() - 2), "TransCMD");
  EXPECT_EQ(engine->settings.names.back(), "UserConfigDir");
  EXPECT_EQ(SettingValue(*engine, "TransCMD"), "quillo");
}

TEST(SettingsTest, EveryBuiltinIsFoundAtItsIndexInAnyCase) {
  auto engine = MakeEngine();
  for (int i = 0; i < kSettingCount; ++i) {
    std::string name = engine->settings.names[i];
    std::string lower, upper;
    for (char c : name) {
      lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    EXPECT_EQ(FindSetting(*engine, name), i) << name;
    EXPECT_EQ(FindSetting(*engine, lower), i) << lower;
    EXPECT_EQ(FindSetting(*engine, upper), i) << upper;
  }
  EXPECT_EQ(FindSetting(*engine, "NoSuchName"), -1);
  EXPECT_EQ(GetSetting(*engine, "NoSuchName"), nullptr);
  EXPECT_EQ(SettingValue(*engine, "NoSuchName"), "");
}

TEST(SettingsTest, NamesAskedFromOneBufferFindTheirOwnIndexes) {
  // Names are asked for from the same places again and again, and one buffer may hold a name,
  // then another of the same length: every lookup answers for the name it is given.
  auto engine = MakeEngine();
  char buffer[8] = {};
  auto ask = [&](const char* name) {
    std::snprintf(buffer, sizeof buffer, "%s", name);
    return std::string_view(buffer, std::strlen(buffer));
  };
  const int alpha = SetSetting(*engine, ask("Alpha"), "a");
  const int bravo = SetSetting(*engine, ask("Bravo"), "b");
  EXPECT_NE(alpha, bravo);
  EXPECT_EQ(FindSetting(*engine, ask("Alpha")), alpha);
  EXPECT_EQ(FindSetting(*engine, ask("BRAVO")), bravo);
  EXPECT_EQ(FindSetting(*engine, ask("alpha")), alpha);
  EXPECT_EQ(FindSetting(*engine, ask("Delta")), -1);
  EXPECT_EQ(SettingValue(*engine, ask("bravo")), "b");
  // After a reset the names are gone, whatever the buffer found before.
  ResetSettings(*engine);
  EXPECT_EQ(FindSetting(*engine, ask("Alpha")), -1);
  const int again = SetSetting(*engine, ask("Bravo"), "c");
  EXPECT_EQ(FindSetting(*engine, "bravo"), again);
  EXPECT_EQ(SettingValue(*engine, "BRAVO"), "c");
}

TEST(SettingsTest, ResetForgetsValuesNamesAndProtection) {
  auto engine = MakeEngine();
  SetSetting(*engine, "OverrideDefs", "1");
  SetSetting(*engine, "TrnFile", "x.trn");
  SetSetting(*engine, "Extra", "1");
  SetSetting(*engine, "OverrideDefs", "0");
  ResetSettings(*engine);
  EXPECT_EQ(FindSetting(*engine, "Extra"), -1);
  EXPECT_EQ(Stored(*engine, kSettingTrnFile), "html.trn");
  EXPECT_TRUE(engine->settings.protectedKeys.empty());
  SetSetting(*engine, "TrnFile", "y.trn");
  EXPECT_EQ(Stored(*engine, kSettingTrnFile), "y.trn");
  // With another name protected after the reset, "Extra" comes back (at the index it had) free.
  SetSetting(*engine, "OverrideDefs", "1");
  SetSetting(*engine, "Other", "1");
  SetSetting(*engine, "OverrideDefs", "0");
  SetSetting(*engine, "Extra", "2");
  EXPECT_EQ(SettingValue(*engine, "Extra"), "2");
  SetSetting(*engine, "OTHER", "2");
  EXPECT_EQ(SettingValue(*engine, "Other"), "1");
}

TEST(SettingsTest, UserConfigDirFollowsTheXdgRule) {
  // The environment is restored afterwards: other tests of this binary read it too.
  struct SavedVariable {
    const char* name;
    std::optional<std::string> value;
    explicit SavedVariable(const char* n) : name(n) {
      if (const char* v = std::getenv(n)) value = v;
    }
    ~SavedVariable() {
      if (value)
        setenv(name, value->c_str(), 1);
      else
        unsetenv(name);
    }
  } config("XDG_CONFIG_HOME"), home("HOME");
  struct Case {
    const char* xdgConfigHome;  // nullptr: unset
    const char* home;
    const char* expected;
  };
  const Case cases[] = {
      {"/cfg", "/home/ann", "/cfg/quillo"},
      {nullptr, "/home/ann", "/home/ann/.config/quillo"},
      {"", "/home/ann", "/home/ann/.config/quillo"},              // empty counts as unset
      {"relative/cfg", "/home/ann", "/home/ann/.config/quillo"},  // a relative one is ignored
      {nullptr, nullptr, ""},
      {nullptr, "", ""},
  };
  auto engine = MakeEngine();
  for (const Case& c : cases) {
    auto put = [](const char* name, const char* value) {
      if (value)
        setenv(name, value, 1);
      else
        unsetenv(name);
    };
    put("XDG_CONFIG_HOME", c.xdgConfigHome);
    put("HOME", c.home);
    ResetSettings(*engine);
    EXPECT_EQ(SettingValue(*engine, "UserConfigDir"), c.expected)
        << (c.xdgConfigHome ? c.xdgConfigHome : "(unset)") << " " << (c.home ? c.home : "(unset)");
  }
  // Set like any other name, so that -D UserConfigDir=... wins over the environment.
  SetSetting(*engine, "UserConfigDir", "/elsewhere");
  EXPECT_EQ(SettingValue(*engine, "UserConfigDir"), "/elsewhere");
}

// ---------------------------------------------------------------------------------------------
// Set

TEST(SettingsTest, SetIgnoresCaseAndKeepsTheRegisteredSpelling) {
  auto engine = MakeEngine();
  EXPECT_EQ(SetSetting(*engine, "trnfile", "x.trn"), kSettingTrnFile);
  EXPECT_EQ(Stored(*engine, kSettingTrnFile), "x.trn");
  EXPECT_EQ(engine->settings.names[kSettingTrnFile], "TrnFile");

  std::size_t count = engine->settings.names.size();
  int index = SetSetting(*engine, "MyName", "a");
  EXPECT_EQ(index, static_cast<int>(count));
  EXPECT_EQ(SetSetting(*engine, "MYNAME", "b"), index);
  EXPECT_EQ(SettingValue(*engine, "myname"), "b");
  EXPECT_EQ(engine->settings.names[index], "MyName");
}

TEST(SettingsTest, OverrideDefsProtectsEverythingSetWhileItIsOn) {
  auto engine = MakeEngine();
  SetSetting(*engine, "OverrideDefs", "1");
  EXPECT_EQ(Parse(*engine, {"-D", "TrnFile=x.trn", "-c"}), 4);
  SetSetting(*engine, "OverrideDefs", "0");

  // What the translation file sets later is ignored for the protected names, in any spelling.
  EXPECT_EQ(SetSetting(*engine, "TRNFILE", "html.trn"), kSettingTrnFile);
  EXPECT_EQ(Stored(*engine, kSettingTrnFile), "x.trn");
  SetSetting(*engine, "GenContents", "0");
  EXPECT_EQ(engine->settings.mirrors.genContents, 1);
  // Names set while the flag was off stay free; OverrideDefs itself always changes.
  SetSetting(*engine, "Title", "a");
  SetSetting(*engine, "Title", "b");
  EXPECT_EQ(SettingValue(*engine, "Title"), "b");
  SetSetting(*engine, "OverrideDefs", "1");
  EXPECT_EQ(SettingValue(*engine, "OverrideDefs"), "1");
  SetSetting(*engine, "OverrideDefs", "0");
  EXPECT_EQ(SettingValue(*engine, "OverrideDefs"), "0");
}

TEST(SettingsTest, DebugBitTwoTracesSetsAndIgnoredSets) {
  auto engine = MakeEngine();
  engine->messages.errorFileName.clear();  // traces go to standard error
  SetSetting(*engine, "OverrideDefs", "1");
  SetSetting(*engine, "Locked", "1");
  SetSetting(*engine, "OverrideDefs", "0");
  SetSetting(*engine, "Debug", "2");
  testing::internal::CaptureStderr();
  SetSetting(*engine, "Free", "a<b");
  SetSetting(*engine, "Locked", "2");
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Setting:name=Free,value=a&lt;b<br>"), std::string::npos) << err;
  EXPECT_NE(err.find("Ignoring Set of:name=Locked<br>"), std::string::npos) << err;

  SetSetting(*engine, "Debug", "1");
  testing::internal::CaptureStderr();
  SetSetting(*engine, "Free", "c");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(SettingsTest, IntegerAndFloatMirrorsFollowTheirSettings) {
  auto engine = MakeEngine();
  struct IntCase {
    const char* name;
    int SettingMirrors::*member;
  } ints[] = {
      {"NoGraphics", &SettingMirrors::noGraphics},
      {"InlineGraphics", &SettingMirrors::inlineGraphics},
      {"GenContents", &SettingMirrors::genContents},
      {"GenFrames", &SettingMirrors::genFrames},
      {"GenIndex", &SettingMirrors::genIndex},
      {"SplitDepth", &SettingMirrors::splitDepth},
      {"MemoryCheck", &SettingMirrors::memoryCheck},
      {"MaxColorDiff", &SettingMirrors::maxColorDiff},
      {"SkipNavPanel", &SettingMirrors::skipNavPanel},
      {"SkipLeadingToc", &SettingMirrors::skipLeadingToc},
      {"SkipTrailingToc", &SettingMirrors::skipTrailingToc},
      {"ColTolerance", &SettingMirrors::colTolerance},
      {"MergePMatch", &SettingMirrors::mergePMatch},
      {"KeepDupPicts", &SettingMirrors::keepDupPicts},
      {"PreferEmbed", &SettingMirrors::preferEmbed},
      {"MaxTOCLevel", &SettingMirrors::maxTocLevel},
      {"AllowEmptyStrip", &SettingMirrors::allowEmptyStrip},
      {"PauseOnErr", &SettingMirrors::pauseOnErr},
      {"MaxIndexLevels", &SettingMirrors::maxIndexLevels},
      {"ShortFileDigits", &SettingMirrors::shortFileDigits},
  };
  for (const IntCase& c : ints) {
    SCOPED_TRACE(c.name);
    // After a reset the mirror agrees with the registered default.
    EXPECT_EQ(engine->settings.mirrors.*c.member, std::atoi(SettingValue(*engine, c.name).c_str()));
    SetSetting(*engine, c.name, "7xyz");  // read as atoi reads it
    EXPECT_EQ(engine->settings.mirrors.*c.member, 7);
  }
  struct FloatCase {
    const char* name;
    double SettingMirrors::*member;
  } floats[] = {
      {"WMFAdjust", &SettingMirrors::wmfAdjust},     {"MacAdjust", &SettingMirrors::macAdjust},
      {"WMFNGAdjust", &SettingMirrors::wmfNgAdjust}, {"MacNGAdjust", &SettingMirrors::macNgAdjust},
      {"BMPAdjust", &SettingMirrors::bmpAdjust},     {"BMPNGAdjust", &SettingMirrors::bmpNgAdjust},
      {"TwipToPixel", &SettingMirrors::twipToPixel}, {"FontScale", &SettingMirrors::fontScale},
  };
  for (const FloatCase& c : floats) {
    SCOPED_TRACE(c.name);
    EXPECT_DOUBLE_EQ(engine->settings.mirrors.*c.member,
                     std::atof(SettingValue(*engine, c.name).c_str()));
    SetSetting(*engine, c.name, "2.5");
    EXPECT_DOUBLE_EQ(engine->settings.mirrors.*c.member, 2.5);
  }
}

TEST(SettingsTest, FormattedSetsHaveNoLengthLimit) {
  auto engine = MakeEngine();
  std::string longText(5000, 'x');
  SetFormatted(*engine, "Long", "%s-%d", longText.c_str(), 42);
  EXPECT_EQ(SettingValue(*engine, "Long"), longText + "-42");
  SetIndexFormatted(*engine, kSettingSplitDepth, "%d", 3);
  EXPECT_EQ(engine->settings.mirrors.splitDepth, 3);
  SetIndexFormatted(*engine, kSettingCount, "%d", 3);  // not a built-in: ignored
  EXPECT_EQ(engine->settings.names.size(), engine->settings.values.size());
}

// ---------------------------------------------------------------------------------------------
// Computed names

TEST(SettingsTest, ComputedNamesIgnoreWhatIsStored) {
  auto engine = MakeEngine();
  engine->reader.lastControlWord = "pard";
  engine->reader.token.param = 720;
  SetSetting(*engine, "Token", "stored");
  EXPECT_EQ(SettingValue(*engine, "Token"), "pard");
  EXPECT_EQ(SettingValue(*engine, "rtfparam"), "720");

  engine->settings.paths.programDirectory = "/opt/quillo/bin";
  EXPECT_EQ(SettingValue(*engine, "ProgPath"), "/opt/quillo/bin");

  // Names whose state belongs to later stages read as their defaults whatever is set.
  SetSetting(*engine, "Bold", "1");
  EXPECT_EQ(SettingValue(*engine, "Bold"), "0");
  SetSetting(*engine, "ParStyle", "Heading 1");
  EXPECT_EQ(SettingValue(*engine, "ParStyle"), "Normal");
  EXPECT_TRUE(IsComputedSetting(kSettingBold));
  EXPECT_FALSE(IsComputedSetting(kSettingTrnFile));
  EXPECT_FALSE(IsComputedSetting(kSettingCount));
}

TEST(SettingsTest, SavedTextSwitchAndText) {
  auto engine = MakeEngine();
  SetSetting(*engine, "SaveText", "1");
  SetSetting(*engine, "SaveTextStr", "kept words");
  EXPECT_EQ(SettingValue(*engine, "SaveText"), "1");
  EXPECT_EQ(SettingValue(*engine, "SaveTextStr"), "kept words");
  SetSetting(*engine, "SaveText", "0");  // switching off empties the saved text
  EXPECT_EQ(SettingValue(*engine, "SaveTextStr"), "");
  EXPECT_EQ(SettingValue(*engine, "SaveText"), "0");
}

TEST(SettingsTest, TimeDateAndElapsedTime) {
  auto engine = MakeEngine();
  EXPECT_TRUE(std::regex_match(SettingValue(*engine, "Date"), std::regex(R"(\d\d/\d\d/\d\d\d\d)")));
  EXPECT_FALSE(SettingValue(*engine, "Time").empty());
  engine->driver.startTime = std::time(nullptr) - 5;
  int elapsed = std::atoi(SettingValue(*engine, "ETime").c_str());
  EXPECT_GE(elapsed, 5);
  EXPECT_LE(elapsed, 6);
  SetSetting(*engine, "OverrideDefs", "1");
  EXPECT_EQ(SettingValue(*engine, "OverrideDefs"), "1");
}

// ---------------------------------------------------------------------------------------------
// Options

TEST(ParseOptionsTest, SwitchesAndParameters) {
  auto engine = MakeEngine();
  EXPECT_EQ(Parse(*engine, {"-t", "-c", "-x", "-i", "-G", "-s", "-F", "input.rtf"}), 8);
  const SettingMirrors& m = engine->settings.mirrors;
  EXPECT_EQ(m.skipLeadingToc, 0);
  EXPECT_EQ(m.genContents, 1);
  EXPECT_EQ(m.genIndex, 1);
  EXPECT_EQ(m.inlineGraphics, 1);
  EXPECT_EQ(m.noGraphics, 1);
  EXPECT_EQ(m.shortNames, 1);
  EXPECT_EQ(m.genFrames, 1);

  ResetSettings(*engine);
  EXPECT_EQ(Parse(*engine, {"-Ppng", "-h", "2", "-T", "My Title", "-XAnchor", "-b", "list.txt"}),
            9);
  EXPECT_EQ(SettingValue(*engine, "ImageExt"), "png");
  EXPECT_EQ(engine->settings.mirrors.splitDepth, 2);
  EXPECT_EQ(SettingValue(*engine, "Title"), "My Title");
  EXPECT_EQ(SettingValue(*engine, "EmptyAnchorText"), "Anchor");
  EXPECT_EQ(SettingValue(*engine, "list.txt"), "");  // -b consumed its parameter
}

TEST(ParseOptionsTest, DefinitionsSplitAtTheFirstEquals) {
  auto engine = MakeEngine();
  EXPECT_EQ(Parse(*engine, {"-Dtitle=A=B", "-D", "Flag", "-D", "Empty=", "doc.rtf"}), 6);
  EXPECT_EQ(SettingValue(*engine, "title"), "A=B");
  EXPECT_EQ(SettingValue(*engine, "Flag"), "1");
  EXPECT_EQ(FindSetting(*engine, "Empty") >= 0, true);
  EXPECT_EQ(SettingValue(*engine, "Empty"), "");
}

TEST(ParseOptionsTest, ParameterIsTheNextWordWhateverItBeginsWith) {
  auto engine = MakeEngine();
  EXPECT_EQ(Parse(*engine, {"-o", "-dash.htm", "in.rtf"}), 3);
  EXPECT_EQ(Stored(*engine, kSettingOutFileName), "-dash.htm");
  EXPECT_EQ(Parse(*engine, {"-o", "", "in.rtf"}), 3);  // an empty word is still a parameter
  EXPECT_EQ(Stored(*engine, kSettingOutFileName), "");
}

TEST(ParseOptionsTest, InputEndsTheOptionsAndEmptyWordsAreSkipped) {
  auto engine = MakeEngine();
  EXPECT_EQ(Parse(*engine, {"", "-c", "", "doc.rtf", "-x"}), 4);
  EXPECT_EQ(engine->settings.mirrors.genIndex, 0);
  EXPECT_EQ(Parse(*engine, {"-c"}), 2);  // no input: argc
  EXPECT_EQ(Parse(*engine, {}), 1);
}

TEST(ParseOptionsTest, ErrorsAreReportedAndFail) {
  struct Case {
    std::vector<std::string> words;
    int result;
    const char* message;  // expected on standard error
  } cases[] = {
      {{"-D"}, -1, "Parameter required for -D option."},
      {{"-c", "-o"}, -1, "Parameter required for -o option."},
      {{"-q", "in.rtf"}, -1, "Don't understand option:-q."},
      {{"-C"}, -1, "Don't understand option:-C."},    // options are matched with case
      {{"-cx"}, -1, "Don't understand option:-cx."},  // single words are matched whole
      {{"-V", "-q"}, 0, "quillo Version 5.0.2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    auto engine = MakeEngine();
    engine->messages.errorFileName.clear();
    testing::internal::CaptureStderr();
    EXPECT_EQ(Parse(*engine, c.words), c.result);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(c.message), std::string::npos) << err;
    EXPECT_EQ(SettingValue(*engine, "errCode"), "");
  }
}

TEST(ParseOptionsTest, DashAloneIsTheInputNotAnOption) {
  // "-" names standard input; the options before it apply, the words after it are left to the
  // next set-up.
  auto engine = MakeEngine();
  EXPECT_EQ(Parse(*engine, {"-c", "-", "-x"}), 2);
  EXPECT_EQ(SettingValue(*engine, "GenContents"), "1");
  EXPECT_EQ(SettingValue(*engine, "GenIndex"), "0");
  // As an option's parameter it is that parameter.
  EXPECT_EQ(Parse(*engine, {"-o", "-", "in.rtf"}), 3);
  EXPECT_EQ(SettingValue(*engine, "OutFileName"), "-");
}

// ---------------------------------------------------------------------------------------------
// Output names

TEST(OutputNameTest, BaseExtensionAndErrorFileName) {
  auto engine = MakeEngine();
  SetSetting(*engine, "OutFileName", "out/book.htm");
  const OutputNames& paths = engine->settings.paths;
  EXPECT_EQ(paths.baseName, "out/book");
  EXPECT_EQ(paths.baseFileName, "book");
  EXPECT_EQ(Stored(*engine, kSettingHtmlExt), "htm");
  EXPECT_EQ(Stored(*engine, kSettingErrorFileName), "out/book_err.htm");
  EXPECT_EQ(engine->messages.errorFileName, "out/book_err.htm");

  // A chosen error-file name wins and is expanded.
  SetSetting(*engine, "Stem", "diag");
  SetSetting(*engine, "ErrorFileName", "out/$Stem;.txt");
  EXPECT_EQ(engine->messages.errorFileName, "out/diag.txt");
}

TEST(OutputNameTest, NothingHappensWhileOutFileNameIsEmpty) {
  auto engine = MakeEngine();
  engine->messages.errorFileName.clear();
  SetSetting(*engine, "ShortNames", "1");
  SetSetting(*engine, "HtmlExt", "htm");
  EXPECT_EQ(engine->settings.paths.baseName, "");
  EXPECT_EQ(engine->messages.errorFileName, "");
  EXPECT_EQ(Stored(*engine, kSettingOutFileName), "");
}

TEST(OutputNameTest, ExtensionIsOnlyTakenAfterTheLastSlash) {
  auto engine = MakeEngine();
  SetSetting(*engine, "OutFileName", "a.b/doc.html");
  SetSetting(*engine, "HtmlExt", "htm");
  EXPECT_EQ(Stored(*engine, kSettingOutFileName), "a.b/doc.htm");
  EXPECT_EQ(engine->settings.paths.baseName, "a.b/doc");

  ResetSettings(*engine);
  SetSetting(*engine, "OutFileName", "a.b/doc");
  EXPECT_EQ(Stored(*engine, kSettingHtmlExt), "html");
  EXPECT_EQ(engine->settings.paths.baseName, "a.b/doc");
  SetSetting(*engine, "HtmlExt", "htm");
  EXPECT_EQ(Stored(*engine, kSettingOutFileName), "a.b/doc");
  EXPECT_EQ(Stored(*engine, kSettingHtmlExt), "htm");
}

TEST(OutputNameTest, ShortNamesCutTheBaseAndTheExtension) {
  auto engine = MakeEngine();
  SetSetting(*engine, "OutFileName", "dir.x/report-chapter.html");
  SetSetting(*engine, "ShortNames", "1");
  const OutputNames& paths = engine->settings.paths;
  EXPECT_EQ(paths.baseFileName, "report");
  EXPECT_EQ(paths.baseName, "dir.x/report");
  EXPECT_EQ(Stored(*engine, kSettingHtmlExt), "htm");

  SetSetting(*engine, "ShortFileDigits", "3");
  EXPECT_EQ(paths.baseFileName, "repor");
  SetSetting(*engine, "ShortFileDigits", "12");  // more digits than the 8 characters: empty base
  EXPECT_EQ(paths.baseFileName, "");
  EXPECT_EQ(paths.baseName, "dir.x/");
}

TEST(OutputNameTest, BaseNameIsLimitedTo255Characters) {
  auto engine = MakeEngine();
  SetSetting(*engine, "OutFileName", std::string(300, 'n') + ".htm");
  EXPECT_EQ(engine->settings.paths.baseName.size(), 255u);
  EXPECT_EQ(Stored(*engine, kSettingHtmlExt), "htm");
}

TEST(OutputNameTest, DisableErrorFileSelectsTheDiscardingSink) {
  struct Case {
    const char* value;
    bool discard;
  } cases[] = {{"1", true}, {"true", true}, {"TRUE", false}, {"yes", false}, {"", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    auto engine = MakeEngine();
    SetSetting(*engine, "OutFileName", "doc.htm");
    SetSetting(*engine, "DisableErrorFile", c.value);
    EXPECT_EQ(engine->messages.discardPrinted, c.discard);
  }
}

// ---------------------------------------------------------------------------------------------
// Library files

/// Reads the first line of a library file found by the search, "" when none opens.
std::string FirstLineFound(Engine& engine, const std::string& name) {
  FileEntry* file = OpenLibraryFile(engine, name, "r");
  if (!file) return "";
  std::string line;
  FileReadLine(file, line, 256);
  FileClose(file);
  return line;
}

TEST(LibraryFileTest, SearchOrder) {
  auto engine = MakeEngine();
  TempDir override, input, env, program;
  const std::string name = "quillo-search-order-test.txt";
  test::WriteFile(override.File(name), "override");
  test::WriteFile(input.File(name), "input");
  test::WriteFile(env.File(name), "env");
  test::WriteFile(program.File(name), "program");

  std::optional<std::string> savedEnv;
  if (const char* value = std::getenv("RTFLIBDIR")) savedEnv = value;
  setenv("RTFLIBDIR", env.path().c_str(), 1);

  OutputNames& paths = engine->settings.paths;
  paths.libraryDirOverride = override.path();
  paths.inputDirectory = input.path();
  paths.programDirectory = program.path();
  EXPECT_EQ(FirstLineFound(*engine, name), "override");
  paths.libraryDirOverride.clear();
  EXPECT_EQ(FirstLineFound(*engine, name), "input");
  std::remove(input.File(name).c_str());  // a directory without the file is passed over
  EXPECT_EQ(FirstLineFound(*engine, name), "env");
  unsetenv("RTFLIBDIR");
  EXPECT_EQ(FirstLineFound(*engine, name), "program");
  paths.programDirectory.clear();
  EXPECT_EQ(FirstLineFound(*engine, name), "");

  // An absolute name is opened as given, whatever the directories say.
  EXPECT_EQ(FirstLineFound(*engine, override.File(name)), "override");

  if (savedEnv) setenv("RTFLIBDIR", savedEnv->c_str(), 1);
}

// Safe mode trusts only the program folder, RTFLIBDIR and the installed data folder: a library
// file beside the input, in a batch's search folder or in ./LIBDIR is never read.
TEST(LibraryFileTest, SafeModeSearchesOnlyTrustedFolders) {
  auto engine = MakeEngine();
  TempDir override, input, program;
  const std::string name = "quillo-safe-mode-test.txt";
  test::WriteFile(override.File(name), "override");
  test::WriteFile(input.File(name), "input");
  test::WriteFile(program.File(name), "program");
  OutputNames& paths = engine->settings.paths;
  paths.libraryDirOverride = override.path();
  paths.inputDirectory = input.path();
  paths.programDirectory = program.path();
  engine->settings.safeMode = true;
  EXPECT_EQ(FirstLineFound(*engine, name), "program");
  for (const std::string& candidate : LibraryFileCandidates(*engine, name)) {
    EXPECT_EQ(candidate.rfind(override.path(), 0), std::string::npos) << candidate;
    EXPECT_EQ(candidate.rfind(input.path(), 0), std::string::npos) << candidate;
    EXPECT_NE(candidate, "LIBDIR/" + name);
  }
  engine->settings.safeMode = false;
  EXPECT_EQ(FirstLineFound(*engine, name), "override");
}

// Safe mode is what the conversion's options say: a translation file's strings cannot turn it
// off, nor can a later set of the name.
TEST(OptionTest, SafeModeComesFromTheOptionsOnly) {
  auto engine = MakeEngine();
  test::TempDir dir;
  const std::string trn = dir.File("off.trn");
  test::WriteFile(trn, "#include " + test::DataDir() + "/html.trn\n.Strings\nSafeMode \"0\"\n");
  const std::string input = dir.File("in.rtf");
  test::WriteFile(input, "{\\rtf1 text}");
  std::vector<std::string> words = {"", "-D", "SafeMode=1", "-D", "TrnFile=" + trn, input};
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  EXPECT_EQ(ConvertFiles(*engine, static_cast<int>(words.size()), argv.data()), 0);
  EXPECT_TRUE(engine->settings.safeMode);
  EXPECT_EQ(SettingValue(*engine, "SafeMode"), "1");
  SetSetting(*engine, "SafeMode", "0");
  EXPECT_TRUE(engine->settings.safeMode);
}

// Names from the command line are literal: never expanded, wherever they end up.
TEST(OutputNameTest, NamesFromTheCommandLineAreLiteral) {
  auto engine = MakeEngine();
  SetSetting(*engine, "Secret", "EXPANDED");
  SetSetting(*engine, "OverrideDefs", "1");
  ASSERT_EQ(Parse(*engine, {"-o", "a$Secret;.html"}), 3);
  SetSetting(*engine, "OverrideDefs", "0");
  EXPECT_EQ(engine->settings.paths.baseName, "a$Secret;");
  EXPECT_EQ(engine->messages.errorFileName, "a$Secret;_err.htm");
  // The error-file name derived from it is not expanded when the output name is applied again.
  SetSetting(*engine, "HtmlExt", "htm");
  EXPECT_EQ(engine->messages.errorFileName, "a$Secret;_err.htm");
  EXPECT_EQ(StrExp(*engine, "$OutFileName;"), "a$Secret;.htm");
  // So are the file names given with -D (hosts pass them so), any case of the name.
  auto defined = MakeEngine();
  SetSetting(*defined, "Secret", "EXPANDED");
  ASSERT_EQ(Parse(*defined, {"-D", "OutFilename=b$Secret;.html", "-D",
                             "ErrorFileName=e$Secret;.htm", "-D", "Other=$Secret;"}),
            7);
  EXPECT_EQ(defined->settings.paths.baseName, "b$Secret;");
  EXPECT_EQ(defined->messages.errorFileName, "e$Secret;.htm");
  EXPECT_EQ(StrExp(*defined, "$Other;"), "EXPANDED");  // other definitions expand as ever
  // One a translation file defines is the expansion language's.
  auto fromTrn = MakeEngine();
  SetSetting(*fromTrn, "Secret", "EXPANDED");
  SetSetting(*fromTrn, "OutFileName", "c$Secret;.html");
  EXPECT_EQ(fromTrn->settings.paths.baseName, "cEXPANDED");
}

}  // namespace
}  // namespace quillo
