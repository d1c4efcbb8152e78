#include "app/finding_words.h"

namespace lanrove {

namespace {

FindingLookup lookupIn(const LangTable& texts) {
    return [&texts](std::string_view key) {
        return texts.text(kFindingTextSection, std::string(key).c_str());
    };
}

// A finding made without patterns (by hand, or by an older caller) keeps its English text.
std::string spell(const FindingText& text, const std::string& english, const LangTable& texts) {
    return text.key.empty() ? english : spellFindingText(text, lookupIn(texts));
}

}  // namespace

std::string findingEvidence(const Finding& finding, const LangTable& texts) {
    return spell(finding.evidenceText, finding.evidence, texts);
}

std::string findingFix(const Finding& finding, const LangTable& texts) {
    return spell(finding.fixText, finding.fix, texts);
}

std::string findingSeverity(Severity severity, const LangTable& texts) {
    const char* word = severity == Severity::Info    ? "SEVERITY_INFO"
                       : severity == Severity::Error ? "SEVERITY_ERROR"
                                                     : "SEVERITY_WARNING";
    return spellFindingText({word, {}}, lookupIn(texts));
}

std::string findingLine(const Finding& finding, const LangTable& texts) {
    return spellFindingText({"LINE",
                             {findingSeverity(finding.severity, texts), finding.code,
                              findingEvidence(finding, texts), findingFix(finding, texts)}},
                            lookupIn(texts));
}

}  // namespace lanrove
