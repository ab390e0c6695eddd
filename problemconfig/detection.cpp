#include "detection.h"

#include <QDir>
#include <QSet>

#include <algorithm>
#include <vector>

namespace {

// A name difference held as two views into the names. Its text is
// left + "/" + right, or "" for equal names. The detection compares every
// pair of names, so building a string per pair would dominate its time.
struct Difference
{
    QStringView left;
    QStringView right;
    bool equalNames = false;

    qsizetype size() const { return equalNames ? 0 : left.size() + 1 + right.size(); }
    char16_t at(qsizetype i) const
    {
        if (i < left.size())
            return left[i].unicode();
        if (i == left.size())
            return u'/';
        return right[i - left.size() - 1].unicode();
    }
};

QStringView middle(QStringView s, qsizetype from, qsizetype length)
{
    if (from >= s.size())
        return {};
    if (length < 0)
        return s.sliced(from);
    return s.sliced(from, length);
}

Difference difference(QStringView a, QStringView b)
{
    const qsizetype m = std::min(a.size(), b.size());
    qsizetype p = 0;
    while (p < m && a[p] == b[p])
        ++p;
    if (p == a.size() && p == b.size())
        return {{}, {}, true};
    // Counted independently of the prefix: the two overlap when one name
    // contains the other.
    qsizetype s = 0;
    while (s < m && a[a.size() - 1 - s] == b[b.size() - 1 - s])
        ++s;
    return {middle(a, p, a.size() - p - s), middle(b, p, b.size() - p - s), false};
}

bool sameText(const Difference &x, const Difference &y)
{
    if (x.equalNames || y.equalNames)
        return x.equalNames == y.equalNames;
    if (x.size() != y.size())
        return false;
    if (x.left.size() == y.left.size())
        return x.left == y.left && x.right == y.right;
    // Names holding a "/" can join into the same text at another split.
    for (qsizetype i = 0; i < x.size(); ++i) {
        if (x.at(i) != y.at(i))
            return false;
    }
    return true;
}

size_t textHash(const Difference &d)
{
    quint64 h = 14695981039346656037ULL;
    auto mix = [&h](char16_t c) {
        h ^= c;
        h *= 1099511628211ULL;
    };
    if (!d.equalNames) {
        for (QChar c : d.left)
            mix(c.unicode());
        mix(u'/');
        for (QChar c : d.right)
            mix(c.unicode());
    }
    // The table indexes by the low bits; spread the high ones into them.
    h ^= h >> 32;
    h *= 0xd6e8feb86659fd93ULL;
    h ^= h >> 32;
    return size_t(h);
}

constexpr int NoScore = 0x3F3F3F3F;

struct Pattern
{
    Difference text;
    size_t hash = 0;
    qint64 count = 0;
    int score = NoScore;  // smallest input likeness of its left-hand names
    qint64 firstEntry = 0;  // row * n + column
};

// Patterns in the order of their first matrix entry, found by open addressing.
class PatternTable
{
public:
    std::vector<Pattern> patterns;

    PatternTable() : m_slots(1024, -1) {}

    int find(const Difference &d) const { return m_slots[slotFor(d, textHash(d))]; }

    int findOrAdd(const Difference &d, qint64 entry)
    {
        const size_t h = textHash(d);
        size_t slot = slotFor(d, h);
        if (m_slots[slot] >= 0)
            return m_slots[slot];
        if ((patterns.size() + 1) * 2 > m_slots.size()) {
            grow();
            slot = slotFor(d, h);
        }
        m_slots[slot] = int(patterns.size());
        patterns.push_back({d, h, 0, NoScore, entry});
        return m_slots[slot];
    }

private:
    // The slot holding d, or the free slot where it belongs.
    size_t slotFor(const Difference &d, size_t h) const
    {
        const size_t mask = m_slots.size() - 1;
        size_t i = h & mask;
        for (; m_slots[i] >= 0; i = (i + 1) & mask) {
            const Pattern &p = patterns[size_t(m_slots[i])];
            if (p.hash == h && sameText(p.text, d))
                break;
        }
        return i;
    }

    void grow()
    {
        m_slots.assign(m_slots.size() * 2, -1);
        const size_t mask = m_slots.size() - 1;
        for (size_t index = 0; index < patterns.size(); ++index) {
            size_t i = patterns[index].hash & mask;
            while (m_slots[i] >= 0)
                i = (i + 1) & mask;
            m_slots[i] = int(index);
        }
    }

    std::vector<int> m_slots;
};

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

quint64 readNumber(QStringView s, qsizetype &i)
{
    // Wraps past 64 bits; no test data has such names.
    quint64 value = 0;
    for (; i < s.size() && isDigit(s[i]); ++i)
        value = value * 10 + quint64(s[i].unicode() - u'0');
    return value;
}

bool naturalLessOrEqualView(QStringView a, QStringView b)
{
    qsizetype i = 0;
    qsizetype j = 0;
    for (;;) {
        if (i >= a.size())
            return true;
        if (j >= b.size())
            return false;
        if (isDigit(a[i]) && isDigit(b[j])) {
            const quint64 x = readNumber(a, i);
            const quint64 y = readNumber(b, j);
            if (x != y)
                return x < y;
        } else if (a[i] != b[j]) {
            return a[i].unicode() < b[j].unicode();
        } else {
            ++i;
            ++j;
        }
    }
}

// Used when no difference occurs twice, in this order.
constexpr std::pair<const char16_t *, const char16_t *> Templates[] = {
    {u"*.in", u"*.out"}, {u"*.in", u"*.ans"}, {u"input.in", u"output.out"}, {u"*.in*", u"*.ou*"},
    {u"*.in", u"*.an"},  {u"*.in", u"*.res"}, {u"*.in", u"*.sol"},          {u"*.in", u"*.ok"},
};

}  // namespace

QStringList listDataFilesIn(const QString &dir)
{
    if (dir.isEmpty())
        return {};
    QStringList entries = QDir(dir).entryList(QDir::Files, QDir::NoSort);
    // Case folding rather than the locale's collation: the same order everywhere.
    std::sort(entries.begin(), entries.end(), [](const QString &a, const QString &b) {
        const int folded = a.compare(b, Qt::CaseInsensitive);
        return folded != 0 ? folded < 0 : a < b;
    });
    static constexpr const char16_t *Programs[] = {u".exe", u".cpp", u".c", u".pas", u".bat"};
    QStringList names;
    QSet<QString> seen;
    for (const QString &entry : std::as_const(entries)) {
        const QString name = entry.toLower();
        if (name.startsWith(u'~') || name == u".prb")
            continue;
        if (std::any_of(std::begin(Programs), std::end(Programs),
                        [&name](const char16_t *ext) { return name.endsWith(QStringView(ext)); }))
            continue;
        if (seen.contains(name))
            continue;
        seen.insert(name);
        names.append(name);
    }
    return names;
}

QString nameDifference(const QString &a, const QString &b)
{
    const Difference d = difference(a, b);
    if (d.equalNames)
        return QString();
    QString text;
    text.reserve(d.size());
    text.append(d.left).append(u'/').append(d.right);
    return text;
}

int inputLikeness(const QString &name)
{
    if (name.endsWith(u".ini"))
        return 8;
    const QString input = QStringLiteral("input");
    const QString in = QStringLiteral("in");
    QString rest = name;
    const int g = int(rest.count(input));
    rest.remove(input);
    const int f = int(rest.count(in));
    rest.remove(in);
    const int e = int(rest.count(u'i'));
    return 32 * g + 16 * f + e;
}

bool naturalLessOrEqual(const QString &a, const QString &b)
{
    return naturalLessOrEqualView(a, b);
}

QList<DataPair> detectTestData(const QStringList &names)
{
    const qsizetype n = names.size();
    std::vector<int> likeness(static_cast<size_t>(n));
    for (qsizetype r = 0; r < n; ++r)
        likeness[size_t(r)] = inputLikeness(names[r]);

    PatternTable table;
    qint64 largest = 0;
    for (qsizetype r = 0; r < n; ++r) {
        for (qsizetype c = 0; c < n; ++c) {
            if (c == r)
                continue;
            Pattern &p = table.patterns[size_t(table.findOrAdd(difference(names[r], names[c]), r * n + c))];
            largest = std::max(largest, ++p.count);
            p.score = std::min(p.score, likeness[size_t(r)]);
        }
    }

    if (largest < 2) {
        for (const auto &[x, y] : Templates) {
            const int index = table.find(difference(QStringView(x), QStringView(y)));
            if (index >= 0) {
                const qint64 entry = table.patterns[size_t(index)].firstEntry;
                return {DataPair(names[entry / n], names[entry % n])};
            }
        }
        return {};
    }

    // Patterns are kept in the order of their first entry, so on equal scores
    // the one met first in the row-by-row visit wins.
    const double threshold = 0.618033 * double(largest);
    const Pattern *chosen = nullptr;
    for (const Pattern &p : table.patterns) {
        if (double(p.count) > threshold && (!chosen || p.score > chosen->score))
            chosen = &p;
    }

    QList<DataPair> pairs;
    pairs.reserve(chosen->count);
    for (qint64 entry = chosen->firstEntry; entry < qint64(n) * n && pairs.size() < chosen->count; ++entry) {
        const qsizetype r = entry / n;
        const qsizetype c = entry % n;
        if (r != c && sameText(difference(names[r], names[c]), chosen->text))
            pairs.append(DataPair(names[r], names[c]));
    }

    // Stable insertion sort: an input moves up only past inputs that are not <= it.
    for (qsizetype k = 1; k < pairs.size(); ++k) {
        DataPair moving = std::move(pairs[k]);
        qsizetype j = k;
        for (; j > 0 && !naturalLessOrEqualView(pairs[j - 1].first, moving.first); --j)
            pairs[j] = std::move(pairs[j - 1]);
        pairs[j] = std::move(moving);
    }
    return pairs;
}
