// libFuzzer target: filling a page. The input's first line is the query, the rest the page; the
// store holds keys of several lengths, one with a character only a backslash can reach. The
// output must stay within the capacity, be terminated, and equal the page when it holds no '$'.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/config.h"

namespace {

ConfigManager& store() {
    static ConfigManager* s = [] {
        ConfigManager* c = new ConfigManager;
        c->set("width", 1024);
        c->set("hostname", "Kovi TV $width \\ server");
        c->set("a-b", "dash");
        c->set("x", "");
        c->set("a_much_longer_key_than_the_rest", "long");
        return c;
    }();
    return *s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* bytes = reinterpret_cast<const char*>(data);
    const char* newline = static_cast<const char*>(memchr(bytes, '\n', size));
    std::string query = newline ? std::string(bytes, size_t(newline - bytes)) : std::string();
    size_t page_start = newline ? size_t(newline - bytes) + 1 : 0;
    std::string page(bytes + page_start, size - page_start);

    FILE* file = fmemopen(page.empty() ? nullptr : &page[0], page.size(), "rb");
    if (!file) file = tmpfile();  // an empty page
    if (!file) return 0;
    BinFile reader(file);
    int filled = -1;
    char* out = reader.loadWithValues(&filled, &query[0], &store());
    if (!out) abort();
    long long capacity = static_cast<long long>(page.size()) + 4LL * store().textSize();
    if (filled < 0 || filled > capacity || out[filled] != '\0') abort();
    if (page.find('$') == std::string::npos &&
        (size_t(filled) != page.size() || memcmp(out, page.data(), page.size()) != 0))
        abort();
    delete[] out;
    return 0;
}
