// The stand-in's own fault detector: a statement it refuses as malformed (102, 156, 170), or as
// naming a column or object it does not have (207, 208), is written to the file that
// ZELVARO_DEVSERVER_REFUSALS names. A valid statement that SQL Server would run but the stand-in
// refuses hides a Zelvaro code path from every test, so the test suite reads these files at its end
// (tests/conformance_refusals.sh) and fails on any refusal that a test did not ask for.
#pragma once

#include <string>

namespace refusals {

// Opens the file the environment names, if any; called before the process gives up its rights
// (--run-as), so the account needs none on the test tree.
void openFromEnvironment();
// Notes the error when it is one of the watched numbers; batch is the statement as received.
void note(int number, const std::string& text, const std::string& batch);

} // namespace refusals
