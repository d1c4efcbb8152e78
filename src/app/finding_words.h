#pragma once
// A doctor's finding in the language of a text table: its evidence, fix and severity from the
// "DOCTOR_FINDINGS" section (Language.ini included), English where the table has no such text.

#include <string>

#include "app/lang_table.h"
#include "runs/site_doctor.h"

namespace lanrove {

std::string findingEvidence(const Finding& finding, const LangTable& texts);
std::string findingFix(const Finding& finding, const LangTable& texts);
std::string findingSeverity(Severity severity, const LangTable& texts);
// "severity: code: evidence. fix" in the table's language; the code stays as it is.
std::string findingLine(const Finding& finding, const LangTable& texts);

}  // namespace lanrove
