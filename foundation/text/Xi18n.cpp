#include "foundation/text/Xi18n.h"

#include <algorithm>
#include <array>
#include <atomic>

namespace Xi18n {
namespace {

struct LanguageTable {
    int lcid;
    std::span<const Entry> entries;
};

constexpr Entry kTraditionalChinese[] = {
#define TESSARON_XI18N_ENTRY(name, id, text) {#name, id, QStringView(text)},
    TESSARON_XI18N_TEXTS(TESSARON_XI18N_ENTRY)
#undef TESSARON_XI18N_ENTRY
};

constexpr bool IdsInRangeAndUnique(std::span<const Entry> entries)
{
    std::array<bool, LastTextId - FirstTextId + 1> seen{};
    for (const Entry& entry : entries) {
        if (entry.id < FirstTextId || entry.id > LastTextId)
            return false;
        bool& slot = seen[static_cast<std::size_t>(entry.id - FirstTextId)];
        if (slot)
            return false;
        slot = true;
    }
    return true;
}

static_assert(std::size(kTraditionalChinese) == 129);
static_assert(IdsInRangeAndUnique(kTraditionalChinese));

constexpr LanguageTable kBuiltIn{DefaultLcid, kTraditionalChinese};

// Every language the agent carries; further tables are added here.
constexpr const LanguageTable* kLanguages[] = {&kBuiltIn};

// Tables are constants that live for the whole program, so a reader may keep
// using the table it loaded while another thread switches.
std::atomic<const LanguageTable*> currentTable{&kBuiltIn};

const Entry* Find(const LanguageTable& table, int id)
{
    const auto it = std::find_if(table.entries.begin(), table.entries.end(),
                                 [id](const Entry& entry) { return entry.id == id; });
    return it == table.entries.end() ? nullptr : &*it;
}

}  // namespace

QString Text(XText name)
{
    return TextById(static_cast<int>(name));
}

QString TextById(int id)
{
    const Entry* entry = Find(*currentTable.load(), id);
    if (!entry)
        entry = Find(kBuiltIn, id);
    return entry ? entry->text.toString() : QString();
}

std::span<const Entry> Table()
{
    return currentTable.load()->entries;
}

int Language()
{
    return currentTable.load()->lcid;
}

int SetLanguage(int lcid)
{
    const LanguageTable* chosen = &kBuiltIn;
    for (const LanguageTable* table : kLanguages) {
        if (table->lcid == lcid)
            chosen = table;
    }
    currentTable.store(chosen);
    return chosen->lcid;
}

}  // namespace Xi18n
