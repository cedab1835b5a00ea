#include "desktop/pages/language_table.h"

#include "platform/ui/resources.h"

namespace {

constexpr LanguageRow kLanguages[] = {
    {1031, "GE", ui::IDS_LANGUAGE_GERMAN, "(%08xGE)"},
    {1033, "EN", ui::IDS_LANGUAGE_ENGLISH, "(%08xEN)"},
    {1034, "SP", ui::IDS_LANGUAGE_SPANISH, "(%08xSP)"},
    {1036, "FR", ui::IDS_LANGUAGE_FRENCH, "(%08xFR)"},
    {1040, "IT", ui::IDS_LANGUAGE_ITALIAN, "(%08xIT)"},
};

}  // namespace

const LanguageRow* FindLanguageRow(uint32_t languageId) {
    for (const LanguageRow& row : kLanguages)
        if (row.languageId == languageId) return &row;
    return nullptr;
}
