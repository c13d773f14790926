// User functions as a translation file defines them: statements with their operands and the
// compiled patterns (run by expand/functions.h).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "expand/regex.h"

namespace quillo {

/// User-function statement op codes.
enum StatementOp : int {
  kOpLower = 1,
  kOpUpper = 2,
  kOpEncode = 3,
  kOpDecode = 4,
  kOpSub = 5,
  kOpGsub = 6,
  kOpSave = 8,
  kOpSet = 9,
  kOpIfelse = 10,
  kOpDBPrint = 11,
  kOpScript = 12,
  kOpAnchorFile = 13,
  kOpRPExp = 14,
  kOpVSet = 15,
  kOpRMatch = 16,
  kOpSwitch = 17,
  kOpCase = 18,
  kOpDefault = 19,
  kOpEnd = 20,
  kOpWhile = 21,
};

struct FunctionStatement {
  int op = 0;
  std::unique_ptr<expand::Regex> pattern;
  std::string text1, text2, text3;
  bool hasText1 = false, hasText2 = false, hasText3 = false;
  int jump = -1;  ///< block statements: index of the linked statement
};

struct UserFunction {
  std::string name;
  std::vector<FunctionStatement> statements;
};

}  // namespace quillo
