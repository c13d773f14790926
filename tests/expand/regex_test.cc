// Tests of the regular-expression engine: syntax and compile errors, leftmost matching with
// first-alternative priority, sub-matches, substitution, the optimisation data, long subjects and
// pathological patterns, and a cross-check against a slow recursive reference matcher.
#include "expand/regex.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "support/test_support.h"

namespace quillo::expand {
namespace {

std::unique_ptr<Regex> MustCompile(std::string_view pattern) {
  std::string error;
  auto regex = Regex::TryCompile(pattern, &error);
  EXPECT_NE(regex, nullptr) << "pattern \"" << pattern << "\": " << error;
  return regex;
}

// ---------------------------------------------------------------------------------------------
// Compile errors

TEST(RegexCompile, ErrorTextsWordForWord) {
  struct Case {
    std::string pattern;
    const char* error;
  };
  const std::vector<Case> cases = {
      {"a**", "nested *?+"},
      {"a*?", "nested *?+"},
      {"(ab)+*", "nested *?+"},
      {"*a", "?+* follows nothing"},
      {"a|+b", "?+* follows nothing"},
      {"(?a)", "?+* follows nothing"},
      {"(a*)*", "*+ operand could be empty"},
      {"(a|b*)+", "*+ operand could be empty"},
      {"(^)*", "*+ operand could be empty"},
      {"$+", "*+ operand could be empty"},
      {"()*", "*+ operand could be empty"},
      {"(a", "unmatched ()"},
      {"((a)", "unmatched ()"},
      {"a)", "unmatched ()"},
      {"(a))", "unmatched ()"},
      {"[z-a]", "invalid [] range"},
      {"[ab-A]", "invalid [] range"},
      {"[abc", "unmatched []"},
      {"[]", "unmatched []"},
      {"[^]", "unmatched []"},
      {"abc\\", "trailing \\"},
      {"\\", "trailing \\"},
      {"((((((((((", "too many ()"},
      {"(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)", "too many ()"},
      {std::string(40000, 'a'), "regexp too big"},
      {[] {
         std::string many;
         for (int i = 0; i < 1000; ++i) many += "[ab]";
         return many;
       }(),
       "regexp too big"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_EQ(Regex::TryCompile(c.pattern, &error), nullptr) << c.pattern;
    EXPECT_EQ(error, c.error) << c.pattern.substr(0, 40);
  }

  std::string error;
  EXPECT_EQ(Regex::TryCompile(std::string_view(), &error), nullptr);
  EXPECT_EQ(error, "NULL argument");
}

TEST(RegexCompile, LimitsThatStillCompile) {
  // Nine subexpressions are allowed; the program may come close to the size limit.
  EXPECT_NE(Regex::TryCompile("(a)(b)(c)(d)(e)(f)(g)(h)(i)"), nullptr);
  EXPECT_NE(Regex::TryCompile("(((((((((a)))))))))"), nullptr);
  EXPECT_NE(Regex::TryCompile(std::string(32000, 'a')), nullptr);
  // An operand that may be empty is fine under "?", and a group with width may repeat.
  EXPECT_NE(Regex::TryCompile("(a*)?"), nullptr);
  EXPECT_NE(Regex::TryCompile("(a*b)*"), nullptr);
  EXPECT_NE(Regex::TryCompile(""), nullptr);
  EXPECT_NE(Regex::TryCompile("a|"), nullptr);
}

TEST(RegexCompile, WithEngineAbandonsConversion) {
  auto engine = test::MakeEngine();
  EXPECT_THROW(Regex::Compile(engine.get(), "a**"), ConversionAbandoned);
  EXPECT_THROW(Regex::Compile(engine.get(), "(a"), ConversionAbandoned);
  EXPECT_EQ(Regex::Compile(nullptr, "a**"), nullptr);
  auto regex = Regex::Compile(engine.get(), "a+");
  ASSERT_NE(regex, nullptr);
  EXPECT_TRUE(regex->Match("baa"));
  EXPECT_EQ(regex->Group(0), "aa");
  // A null subject is a fault of the caller, reported through the engine.
  EXPECT_THROW(regex->Match(nullptr), ConversionAbandoned);
}

TEST(RegexCompile, ProgramStartsWithMagicByte) {
  auto regex = MustCompile("a(b|c)*d");
  ASSERT_FALSE(regex->Program().empty());
  EXPECT_EQ(regex->Program()[0], 0x9C);
}

// ---------------------------------------------------------------------------------------------
// Matching

struct MatchCase {
  const char* pattern;
  const char* subject;
  bool matches;
  const char* whole;   // expected group 0 when it matches
  const char* group1;  // expected group 1, or nullptr when it must not take part
};

TEST(RegexMatch, Table) {
  const std::vector<MatchCase> cases = {
      // The first alternative that lets the rest match wins, not the longest.
      {"a|ab", "abc", true, "a", nullptr},
      {"ab|a", "abc", true, "ab", nullptr},
      {"(a|ab)c", "abc", true, "abc", "ab"},
      // Leftmost match.
      {"b+", "abbcbbb", true, "bb", nullptr},
      {"x", "abc", false, nullptr, nullptr},
      // Anchors.
      {"^$", "", true, "", nullptr},
      {"^$", "a", false, nullptr, nullptr},
      {"^$", "\n", false, nullptr, nullptr},
      {"^a", "ba", false, nullptr, nullptr},
      {"b$", "abb", true, "b", nullptr},
      {"a$", "ab", false, nullptr, nullptr},
      {"a^b", "ab", false, nullptr, nullptr},
      {"(^a|b)", "ba", true, "b", "b"},
      {"(^a|b)", "ab", true, "a", "a"},
      {"$", "abc", true, "", nullptr},
      // Sets.
      {"[]a]+", "x]a]y", true, "]a]", nullptr},
      {"[a-]+", "b-a-c", true, "-a-", nullptr},
      {"[-a]+", "b-a-c", true, "-a-", nullptr},
      {"[^]a]+", "]]bc]", true, "bc", nullptr},
      {"[^-a]", "-ab", true, "b", nullptr},
      {"[a-c-e]+", "xdbey", true, "dbe", nullptr},
      {"[]-a]+", "x^_`]y", true, "^_`]", nullptr},
      {"[0-9]+", "ab123c", true, "123", nullptr},
      {"[A-Za-z0-9_]+", "  $Name_1;", true, "Name_1", nullptr},
      {"[\\]+", "a\\\\b", true, "\\\\", nullptr},
      {"[.]", "abc", false, nullptr, nullptr},
      {"[^a]", "aaa", false, nullptr, nullptr},
      // A literal run leaves its last character to the operator.
      {"ab*", "abbbc", true, "abbb", nullptr},
      {"ab*", "ac", true, "a", nullptr},
      {"ab+", "a", false, nullptr, nullptr},
      {"abc?", "abd", true, "ab", nullptr},
      {"xab*", "xaab", true, "xa", nullptr},
      // Greedy repetition giving back one at a time.
      {"a.*b", "aXbYbZ", true, "aXbYb", nullptr},
      {"(a*)b", "aaab", true, "aaab", "aaa"},
      {"a*ab", "aaab", true, "aaab", nullptr},
      {"(a+)(a)", "aaa", true, "aaa", "aa"},
      {"a*", "bbb", true, "", nullptr},
      {"x*", "", true, "", nullptr},
      {"", "abc", true, "", nullptr},
      {"a?a", "a", true, "a", nullptr},
      // Groups: a repeated group reports its last iteration; a skipped one does not take part.
      {"(ab)*c", "ababc", true, "ababc", "ab"},
      {"(a|b)*c", "xabac", true, "abac", "a"},
      {"(a)(b)?", "a", true, "a", "a"},
      {"(a)|b", "b", true, "b", nullptr},
      {"((a)|b)+", "ab", true, "ab", "b"},
      {"(a|b)+d|(a|b)+c", "ababc", true, "ababc", nullptr},
      // Escapes and "." .
      {"\\.", "a.b", true, ".", nullptr},
      {"\\(a\\)", "(a)", true, "(a)", nullptr},
      {"\\x", "axb", true, "x", nullptr},
      {"a.c", "abc", true, "abc", nullptr},
      {"a.c", "ac", false, nullptr, nullptr},
      // Matching is case-sensitive.
      {"ABC", "abc", false, nullptr, nullptr},
  };
  for (const MatchCase& c : cases) {
    SCOPED_TRACE(std::string(c.pattern) + " on \"" + c.subject + "\"");
    auto regex = MustCompile(c.pattern);
    ASSERT_NE(regex, nullptr);
    ASSERT_EQ(regex->Match(c.subject), c.matches);
    if (!c.matches) {
      EXPECT_FALSE(regex->GroupMatched(0));
      continue;
    }
    EXPECT_EQ(regex->Group(0), c.whole);
    if (c.group1 == nullptr) {
      EXPECT_FALSE(regex->GroupMatched(1));
    } else {
      EXPECT_TRUE(regex->GroupMatched(1));
      EXPECT_EQ(regex->Group(1), c.group1);
    }
    EXPECT_FALSE(regex->LimitReached());
  }
}

TEST(RegexMatch, SubMatchPointersPointIntoTheSubject) {
  auto regex = MustCompile("([a-z]+)=([0-9]+)");
  const char* subject = "x: key=42;";
  ASSERT_TRUE(regex->Match(subject));
  EXPECT_EQ(regex->GroupStart(0), subject + 3);
  EXPECT_EQ(regex->GroupEnd(0), subject + 9);
  EXPECT_EQ(regex->GroupStart(2), subject + 7);
  EXPECT_EQ(regex->Group(1), "key");
  EXPECT_FALSE(regex->GroupMatched(3));
  EXPECT_FALSE(regex->GroupMatched(10));
  EXPECT_FALSE(regex->GroupMatched(-1));
  // A failed match clears the previous one.
  EXPECT_FALSE(regex->Match("nothing here"));
  EXPECT_FALSE(regex->GroupMatched(0));
  EXPECT_EQ(regex->Group(1), "");
}

TEST(RegexMatch, CaretMatchesAtEachNewSubjectStart) {
  // Matching again on the rest of a text (as Gsub does) sees "^" at the start of that rest.
  auto regex = MustCompile("^a");
  std::string text = "aaa";
  int count = 0;
  const char* rest = text.c_str();
  while (*rest != '\0' && regex->Match(rest)) {
    ++count;
    rest = regex->GroupEnd(0);
  }
  EXPECT_EQ(count, 3);
}

TEST(RegexMatch, CountedSubjects) {
  auto dollar = MustCompile("a$");
  EXPECT_TRUE(dollar->Match("ab", 1));
  EXPECT_FALSE(dollar->Match("ab", 2));

  const std::string withNul("a\0b", 3);
  auto any = MustCompile("a.b");
  EXPECT_TRUE(any->Match(withNul.data(), withNul.size()));
  EXPECT_FALSE(any->Match(withNul.c_str()));  // a C string ends at the NUL

  std::string out;
  any->Match(withNul.data(), withNul.size());
  any->Substitute("[&]", out);
  EXPECT_EQ(out, std::string("[a\0b]", 5));
}

TEST(RegexMatch, OptimisationData) {
  struct Case {
    const char* pattern;
    unsigned char first;
    bool anchored;
    const char* must;
  };
  const std::vector<Case> cases = {
      {"abc", 'a', false, ""},        {"^abc", 0, true, ""},
      {"^a|^b", 0, false, ""},  // more than one top-level alternative: no data
      {"a|b", 0, false, ""},          {"x*abc", 0, false, "abc"},
      {"a+bc", 0, false, "bc"},       {"(ab)*cd", 0, false, "cd"},
      {".*xx.*yy", 0, false, "yy"},  // the last of equal length
      {".*xxx.*yy", 0, false, "xxx"}, {"a?bc", 0, false, ""},
      {"[ab]*(cd|ef)", 0, false, ""}, {"ab*cd", 'a', false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern);
    auto regex = MustCompile(c.pattern);
    ASSERT_NE(regex, nullptr);
    EXPECT_EQ(regex->FirstChar(), c.first);
    EXPECT_EQ(regex->Anchored(), c.anchored);
    EXPECT_EQ(regex->RequiredLiteral(), c.must);
  }

  // The data only narrows the search: the results stay the same.
  auto must = MustCompile(".*xx.*yy");
  EXPECT_TRUE(must->Match("ab xx cd yy"));
  EXPECT_FALSE(must->Match("ab xx cd y"));
  auto anchored = MustCompile("^ab");
  EXPECT_FALSE(anchored->Match("xab"));
  auto first = MustCompile("ab*c");
  EXPECT_TRUE(first->Match("xxaxabbbc"));
  EXPECT_EQ(first->Group(0), "abbbc");
}

// ---------------------------------------------------------------------------------------------
// Substitution

TEST(RegexSubstitute, Table) {
  struct Case {
    const char* pattern;
    const char* subject;
    const char* templ;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {"b", "abc", "<&>", "<b>"},
      {"b", "abc", "\\&", "&"},
      {"b", "abc", "\\0\\0", "bb"},
      {"b", "abc", "\\\\", "\\"},
      {"b", "abc", "\\n&", "\\nb"},  // a backslash before another character stays
      {"b", "abc", "x\\", "x\\"},    // and so does a backslash at the end
      {"(a)(b)", "ab", "\\2\\1", "ba"},
      {"(a)|(b)", "b", "[\\1][\\2]", "[][b]"},
      {"b", "abc", "[\\9]", "[]"},
      {"(x*)b", "abc", "[\\1]", "[]"},  // an empty part inserts nothing
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.pattern) + " / " + c.templ);
    auto regex = MustCompile(c.pattern);
    ASSERT_NE(regex, nullptr);
    ASSERT_TRUE(regex->Match(c.subject));
    std::string out = "pre:";
    regex->Substitute(c.templ, out);
    EXPECT_EQ(out, std::string("pre:") + c.expected);
  }
}

TEST(RegexSubstitute, DamagedMatchStringAppendsNothing) {
  auto regex = MustCompile("b+");
  std::string subject = "abbbc";
  ASSERT_TRUE(regex->Match(subject.c_str()));
  subject[2] = '\0';  // the subject changed under the match
  std::string out = "x";
  regex->Substitute("<&>", out);
  EXPECT_EQ(out, "x");
}

// ---------------------------------------------------------------------------------------------
// Long subjects and pathological patterns: these must return (quickly) rather than overflow the
// stack or run for exponential time. No timing is asserted.

TEST(RegexLimits, MegabyteSubjects) {
  const size_t size = 1 << 20;
  std::string letters;
  letters.reserve(size + 1);
  for (size_t i = 0; i < size; ++i) letters.push_back(i % 2 ? 'b' : 'a');

  auto dotStar = MustCompile(".*x");
  EXPECT_FALSE(dotStar->Match(letters.c_str()));
  EXPECT_TRUE(dotStar->Match((letters + "x").c_str()));
  EXPECT_EQ(dotStar->Group(0).size(), size + 1);
  const std::string leadingX = "x" + letters;
  EXPECT_TRUE(dotStar->Match(leadingX.c_str()));
  EXPECT_EQ(dotStar->Group(0), "x");

  auto loop = MustCompile("(a|b)*c");
  EXPECT_FALSE(loop->Match(letters.c_str()));
  const std::string withC = letters + "c";
  ASSERT_TRUE(loop->Match(withC.c_str()));
  EXPECT_EQ(loop->Group(0).size(), size + 1);
  EXPECT_EQ(loop->Group(1), "b");
  EXPECT_FALSE(loop->LimitReached());

  auto plus = MustCompile("((ab)+)$");
  ASSERT_TRUE(plus->Match(letters.c_str()));
  EXPECT_EQ(plus->Group(1).size(), size);

  auto set = MustCompile("[ab]*[^ab]");
  EXPECT_FALSE(set->Match(letters.c_str()));
}

TEST(RegexLimits, PathologicalPatternsReturn) {
  // Each of these has exponentially many ways to split a long run of "a" before it can fail at a
  // start position. Failed (choice, position) pairs are remembered, so they finish with the right
  // answer instead of giving up (nested repeats like "(a+)+" stay quadratic, hence the length).
  const std::string as(1000, 'a');
  struct Case {
    const char* pattern;
    std::string subject;
    const char* whole;  // the expected match, nullptr = none
  };
  const std::vector<Case> cases = {
      {"(a|aa)*b", as + "cb", "b"},        {"(a+)+b", as + "cab", "ab"},
      {"(a|a)*b", as + "cb", "b"},         {"((a|aa)+)+c", as + "bac", "ac"},
      {"((a+)|(aa))+b", as + "cab", "ab"}, {"(a|b|ab|ba)*c", as + "dc", "c"},
      {"(.+)+x$", as + "xa", nullptr},     {"(a|aa)+$", as + "b", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern);
    auto regex = MustCompile(c.pattern);
    ASSERT_NE(regex, nullptr);
    EXPECT_EQ(regex->Match(c.subject.c_str()), c.whole != nullptr);
    if (c.whole != nullptr) {
      EXPECT_EQ(regex->Group(0), c.whole);
    }
    EXPECT_FALSE(regex->LimitReached());
  }
}

TEST(RegexLimits, StepBudgetEndsQuadraticSearches) {
  // Every start position scans to the end and back: quadratic work that the budget cuts off.
  auto regex = MustCompile("a.*b");
  const std::string subject(200000, 'a');
  EXPECT_FALSE(regex->Match(subject.c_str()));
  EXPECT_TRUE(regex->LimitReached());
  // The next ordinary match works normally.
  EXPECT_TRUE(regex->Match("xaxb"));
  EXPECT_FALSE(regex->LimitReached());
}

// ---------------------------------------------------------------------------------------------
// Cross-check against a slow reference matcher
//
// Random expressions are built as trees, printed as patterns, and matched both by the engine and
// by a direct recursive walk of the tree with continuations (first alternative first, greedy
// repetition), which states the intended semantics in the plainest way.

struct RefNode {
  enum Kind { kChar, kAny, kSet, kBol, kEol, kGroup, kAlt, kSeq, kRepeat } kind = kSeq;
  char c = 0;
  std::string members;
  bool negate = false;
  int min = 0, max = 0;  // repetition bounds, max < 0 = unbounded
  std::vector<RefNode> kids;
};

class RefGenerator {
 public:
  explicit RefGenerator(unsigned seed) : rng_(seed) {}

  RefNode Expression(int depth, bool* width) {
    RefNode alt;
    alt.kind = RefNode::kAlt;
    const int branches = Pick(4) == 0 ? 2 : 1;
    *width = true;
    for (int i = 0; i < branches; ++i) {
      bool branchWidth = false;
      alt.kids.push_back(Sequence(depth, &branchWidth));
      *width = *width && branchWidth;
    }
    return alt;
  }

 private:
  int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

  RefNode Sequence(int depth, bool* width) {
    RefNode seq;
    seq.kind = RefNode::kSeq;
    const int pieces = Pick(4);
    *width = false;
    for (int i = 0; i < pieces; ++i) {
      bool pieceWidth = false;
      seq.kids.push_back(Piece(depth, &pieceWidth));
      *width = *width || pieceWidth;
    }
    return seq;
  }

  RefNode Piece(int depth, bool* width) {
    bool atomWidth = false;
    bool quantifiable = true;
    RefNode atom = Atom(depth, &atomWidth, &quantifiable);
    const int op = quantifiable ? Pick(6) : 5;
    if (op >= 3 || (op < 2 && !atomWidth)) {
      *width = atomWidth;
      return atom;
    }
    RefNode repeat;
    repeat.kind = RefNode::kRepeat;
    repeat.min = op == 1 ? 1 : 0;
    repeat.max = op == 2 ? 1 : -1;
    *width = op == 1 && atomWidth;
    repeat.kids.push_back(std::move(atom));
    return repeat;
  }

  RefNode Atom(int depth, bool* width, bool* quantifiable) {
    RefNode atom;
    *width = true;
    switch (Pick(depth > 0 && groups_ < 9 ? 9 : 7)) {
      case 0:
      case 1:
        atom.kind = RefNode::kChar;
        atom.c = "aab"[Pick(3)];
        break;
      case 2:
        atom.kind = RefNode::kAny;
        break;
      case 3:
        atom.kind = RefNode::kSet;
        atom.members = Pick(2) ? "ab" : "a";
        atom.negate = Pick(2) == 0;
        break;
      case 4:
        atom.kind = RefNode::kChar;
        atom.c = "ba"[Pick(2)];
        break;
      case 5:
      case 6:
        atom.kind = Pick(2) ? RefNode::kBol : RefNode::kEol;
        *width = false;
        *quantifiable = false;
        break;
      default:
        atom.kind = RefNode::kGroup;
        ++groups_;
        atom.kids.push_back(Expression(depth - 1, width));
        break;
    }
    return atom;
  }

  std::mt19937 rng_;
  int groups_ = 0;
};

std::string Print(const RefNode& node) {
  switch (node.kind) {
    case RefNode::kChar:
      return std::string(1, node.c);
    case RefNode::kAny:
      return ".";
    case RefNode::kSet:
      return std::string(node.negate ? "[^" : "[") + node.members + "]";
    case RefNode::kBol:
      return "^";
    case RefNode::kEol:
      return "$";
    case RefNode::kGroup:
      return "(" + Print(node.kids[0]) + ")";
    case RefNode::kRepeat:
      return Print(node.kids[0]) + (node.max == 1 ? "?" : node.min == 1 ? "+" : "*");
    case RefNode::kAlt: {
      std::string text;
      for (size_t i = 0; i < node.kids.size(); ++i) text += (i ? "|" : "") + Print(node.kids[i]);
      return text;
    }
    case RefNode::kSeq: {
      std::string text;
      for (const RefNode& kid : node.kids) text += Print(kid);
      return text;
    }
  }
  return "";
}

class RefMatcher {
 public:
  using Continuation = std::function<bool(size_t)>;
  explicit RefMatcher(const std::string& subject) : s_(subject) {}

  bool Match(const RefNode& node, size_t pos, const Continuation& next) const {
    switch (node.kind) {
      case RefNode::kChar:
        return pos < s_.size() && s_[pos] == node.c && next(pos + 1);
      case RefNode::kAny:
        return pos < s_.size() && next(pos + 1);
      case RefNode::kSet:
        return pos < s_.size() &&
               (node.members.find(s_[pos]) != std::string::npos) != node.negate && next(pos + 1);
      case RefNode::kBol:
        return pos == 0 && next(pos);
      case RefNode::kEol:
        return pos == s_.size() && next(pos);
      case RefNode::kGroup:
        return Match(node.kids[0], pos, next);
      case RefNode::kAlt:
        for (const RefNode& kid : node.kids) {
          if (Match(kid, pos, next)) return true;
        }
        return false;
      case RefNode::kSeq:
        return Sequence(node, 0, pos, next);
      case RefNode::kRepeat:
        return Repeat(node, 0, pos, next);
    }
    return false;
  }

 private:
  bool Sequence(const RefNode& node, size_t i, size_t pos, const Continuation& next) const {
    if (i == node.kids.size()) return next(pos);
    return Match(node.kids[i], pos, [&](size_t p) { return Sequence(node, i + 1, p, next); });
  }
  bool Repeat(const RefNode& node, int count, size_t pos, const Continuation& next) const {
    if ((node.max < 0 || count < node.max) &&
        Match(node.kids[0], pos, [&](size_t p) { return Repeat(node, count + 1, p, next); })) {
      return true;
    }
    return count >= node.min && next(pos);
  }

  const std::string& s_;
};

TEST(RegexReference, RandomPatternsAgreeWithReference) {
  std::vector<std::string> subjects = {""};
  for (size_t i = 0; i < subjects.size() && subjects.size() < 400; ++i) {
    if (subjects[i].size() >= 6) continue;
    for (char c : std::string("abc")) subjects.push_back(subjects[i] + c);
  }

  int compared = 0;
  for (int round = 0; round < 400; ++round) {
    bool width = false;
    RefGenerator local(static_cast<unsigned>(round * 7919 + 1));
    const RefNode tree = local.Expression(2, &width);
    const std::string pattern = Print(tree);
    std::string error;
    auto regex = Regex::TryCompile(pattern, &error);
    ASSERT_NE(regex, nullptr) << pattern << ": " << error;
    for (const std::string& subject : subjects) {
      size_t refStart = 0, refEnd = 0;
      bool refMatched = false;
      for (size_t start = 0; start <= subject.size() && !refMatched; ++start) {
        RefMatcher ref(subject);
        refMatched = ref.Match(tree, start, [&](size_t end) {
          refEnd = end;
          return true;
        });
        refStart = start;
      }
      const bool matched = regex->Match(subject.c_str());
      ASSERT_EQ(matched, refMatched) << "pattern " << pattern << " on \"" << subject << "\"";
      if (matched) {
        ASSERT_EQ(regex->GroupStart(0) - subject.c_str(), static_cast<long>(refStart))
            << "pattern " << pattern << " on \"" << subject << "\"";
        ASSERT_EQ(regex->GroupEnd(0) - subject.c_str(), static_cast<long>(refEnd))
            << "pattern " << pattern << " on \"" << subject << "\"";
      }
      ++compared;
    }
  }
  EXPECT_GT(compared, 100000);
}

// Patterns made only of whole-subject literals ("^0,0$|^$") are matched by comparison; the
// outcome and the whole match must be those of the general matcher, which the same choice written
// with a group (not eligible for the comparison) gives.
TEST(RegexMatch, WholeSubjectLiteralsAgreeWithTheMatcher) {
  const std::vector<std::pair<std::string, std::string>> patterns = {
      {"^0,0,0,0$", "^(0,0,0,0)$"},
      {"^$|^#000000$", "^()$|^(#000000)$"},
      {"^a\\|b$|^\\^x\\$$", "^(a\\|b)$|^(\\^x\\$)$"},
      {"^]x$", "^(]x)$"},
  };
  const std::vector<std::string> subjects = {"",
                                             "0,0,0,0",
                                             "0,0,0,0 ",
                                             " 0,0,0,0",
                                             "#000000",
                                             "#0000001",
                                             "a|b",
                                             "^x$",
                                             "]x",
                                             "a",
                                             std::string("0,0,0,0\0", 8)};
  for (const auto& [fast, general] : patterns) {
    auto a = MustCompile(fast);
    auto b = MustCompile(general);
    for (const std::string& subject : subjects) {
      const bool matchA = a->Match(subject.data(), subject.size());
      const bool matchB = b->Match(subject.data(), subject.size());
      EXPECT_EQ(matchA, matchB) << fast << " on \"" << subject << "\"";
      if (!matchA || !matchB) continue;
      EXPECT_EQ(a->GroupStart(0), b->GroupStart(0)) << fast;
      EXPECT_EQ(a->GroupEnd(0), b->GroupEnd(0)) << fast;
      EXPECT_FALSE(a->GroupMatched(1)) << fast;
    }
  }
}

}  // namespace
}  // namespace quillo::expand
