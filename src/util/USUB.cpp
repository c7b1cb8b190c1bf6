#include "util/USUB.h"

#include "util/Utils.h"

int32_t SUB::Count(const std::string& list)
{
    if (list.empty() || list.front() != list.back())
        return 0;
    int32_t n = 0;
    for (size_t i = 1; i < list.size(); ++i)
        if (list[i] == list[0])
            ++n;
    return n;
}

std::string SUB::Item(const std::string& list, int32_t index, const std::string& def)
{
    if (list.empty() || list == std::string(1, '\0') || index < 0)
        return def;
    const char d = list[0];
    size_t start = 1;
    for (int32_t k = 0;; ++k) {
        const size_t close = list.find(d, start);
        if (close == std::string::npos)
            return def;  // text after the last delimiter is no item
        if (k == index) {
            std::string item = list.substr(start, close - start);
            return item.empty() ? def : item;
        }
        start = close + 1;
    }
}

int32_t SUB::ItemInt(const std::string& list, int32_t index, int32_t def)
{
    int64_t v = 0;
    if (!TryParseInt64(Item(list, index, ""), v) || v < INT32_MIN || v > INT32_MAX)
        return def;
    return static_cast<int32_t>(v);
}

namespace {

// Replaces every occurrence of `from` by `to`, left to right, without rescanning inserted text.
std::string ReplaceAllOnce(const std::string& s, const std::string& from, const std::string& to)
{
    std::string out;
    out.reserve(s.size());
    size_t pos = 0;
    for (;;) {
        const size_t hit = s.find(from, pos);
        if (hit == std::string::npos)
            break;
        out.append(s, pos, hit - pos);
        out += to;
        pos = hit + from.size();
    }
    out.append(s, pos, std::string::npos);
    return out;
}

}  // namespace

std::string SUB::Value(const std::string& list, const std::string& key,
                       const std::string& ifMissing, const std::string& ifEmpty)
{
    if (list.size() <= 2 || list.front() != list.back())
        return ifMissing;
    const char d = list[0];
    std::string search = std::string(1, d) + key;
    if (search.back() != '=')
        search += '=';

    std::string norm = ReplaceAllOnce(list, std::string(1, d) + " ", std::string(1, d));
    norm = ReplaceAllOnce(norm, " =", "=");

    const size_t hit = UpperCase(norm).find(UpperCase(search));
    if (hit == std::string::npos)
        return ifMissing;
    const size_t begin = hit + search.size();
    const size_t end = norm.find(d, begin);
    std::string value = norm.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
    return value.empty() ? ifEmpty : value;
}

std::string SUB::SetItem(const std::string& list, int32_t index, const std::string& text)
{
    const std::string l = list.empty() ? std::string("|") : list;
    int32_t n = Count(l);
    if (index < 0)
        return l;  // no item has a negative index; the list stays as it is
    if (n <= index)
        n = index + 1;

    std::string joined(1, '\0');
    for (int32_t i = 0; i < n; ++i) {
        joined += (i == index) ? text : Item(l, i, "");
        joined += '\0';
    }
    const char d = l[0];
    if (joined.find(d) == std::string::npos) {
        for (char& c : joined)
            if (c == '\0')
                c = d;
        return joined;
    }
    return PickSeparator(joined);
}

std::string SUB::PickSeparator(const std::string& joined)
{
    if (joined.empty())
        return joined;
    const std::string set(SeparatorSet, 10);
    for (char sep : set) {
        if (joined.find(sep) != std::string::npos)
            continue;
        std::string out = joined;
        const char nul = joined[0];
        for (char& c : out)
            if (c == nul)
                c = sep;
        return out;
    }
    return joined;
}
