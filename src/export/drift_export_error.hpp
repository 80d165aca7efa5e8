#pragma once
// The one error of drift alignment and export: its text is the sentence the user sees, nothing else.

#include <stdexcept>
#include <string>

namespace velk {

class DriftExportError : public std::runtime_error {
public:
    enum class Case {
        invalid, // an input is present but wrong or unusable
        missing, // something required is absent
    };

    DriftExportError(Case errorCase, const std::string& sentence)
        : std::runtime_error(sentence), m_case(errorCase) {}

    static DriftExportError invalid(const std::string& sentence) { return {Case::invalid, sentence}; }
    static DriftExportError missing(const std::string& sentence) { return {Case::missing, sentence}; }

    Case errorCase() const noexcept { return m_case; }
    std::string sentence() const { return what(); }

private:
    Case m_case;
};

} // namespace velk
