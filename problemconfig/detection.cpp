#include "detection.h"

#include <QDir>
#include <QHash>
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

quint32 textHash(const Difference &d)
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
    return quint32(h);
}

constexpr int NoScore = 0x3F3F3F3F;

struct Pattern
{
    quint32 hash = 0;
    int score = NoScore;  // smallest input likeness of its left-hand names
    quint32 firstEntry = 0;  // row * n + column
    quint32 count = 0;  // 0 marks a free slot
};
static_assert(MaxDetectedNames * MaxDetectedNames <= 0xFFFFFFFFLL, "entries must fit in 32 bits");

// Most differences occur once or twice, so there are nearly as many patterns
// as matrix entries (2.6 million for 2000 files). The records are therefore
// small and held in the slots themselves; a pattern's text is recomputed
// from its first entry when it has to be compared.
class PatternTable
{
public:
    explicit PatternTable(const std::vector<QStringView> &names) : m_names(names), m_slots(1024) {}

    const std::vector<Pattern> &records() const { return m_slots; }

    Difference textOf(const Pattern &p) const
    {
        const quint32 n = quint32(m_names.size());
        return difference(m_names[p.firstEntry / n], m_names[p.firstEntry % n]);
    }

    // The pattern of d, or a free slot.
    const Pattern &find(const Difference &d) const { return m_slots[slotFor(d, textHash(d))]; }

    // Asks the memory for the slot of a hash that add will soon need.
    void prefetch(quint32 h) const { __builtin_prefetch(&m_slots[h & (m_slots.size() - 1)]); }

    // Counts one entry of difference d (hash h); returns the pattern's count.
    quint32 add(const Difference &d, quint32 h, quint32 entry, int likeness)
    {
        size_t slot = slotFor(d, h);
        if (m_slots[slot].count == 0) {
            if ((m_used + 1) * 10 > m_slots.size() * 7) {
                grow();
                slot = slotFor(d, h);
            }
            m_slots[slot].hash = h;
            m_slots[slot].firstEntry = entry;
            ++m_used;
        }
        Pattern &p = m_slots[slot];
        p.score = std::min(p.score, likeness);
        return ++p.count;
    }

private:
    size_t slotFor(const Difference &d, quint32 h) const
    {
        const size_t mask = m_slots.size() - 1;
        size_t i = h & mask;
        for (; m_slots[i].count != 0; i = (i + 1) & mask) {
            if (m_slots[i].hash == h && sameText(textOf(m_slots[i]), d))
                break;
        }
        return i;
    }

    void grow()
    {
        std::vector<Pattern> old(m_slots.size() * 2);
        old.swap(m_slots);
        const size_t mask = m_slots.size() - 1;
        for (const Pattern &p : old) {
            if (p.count == 0)
                continue;
            size_t i = p.hash & mask;
            while (m_slots[i].count != 0)
                i = (i + 1) & mask;
            m_slots[i] = p;
        }
    }

    const std::vector<QStringView> &m_names;
    std::vector<Pattern> m_slots;
    size_t m_used = 0;
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

// Candidate names, lower-cased, each with its name as it is on disk.
static QList<QPair<QString, QString>> candidateFiles(const QString &dir)
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
    QList<QPair<QString, QString>> files;
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
        files.append({name, entry});
    }
    return files;
}

QStringList listDataFilesIn(const QString &dir)
{
    QStringList names;
    for (const auto &file : candidateFiles(dir))
        names.append(file.first);
    return names;
}

QList<DataPair> detectTestDataIn(const QString &dir)
{
    const QList<QPair<QString, QString>> files = candidateFiles(dir);
    QStringList names;
    QHash<QString, QString> onDisk;
    for (const auto &[lower, original] : files) {
        names.append(lower);
        onDisk.insert(lower, original);
    }
    QList<DataPair> pairs = detectTestData(names);
    for (DataPair &pair : pairs)
        pair = DataPair(onDisk.value(pair.first), onDisk.value(pair.second));
    return pairs;
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
    if (names.size() > MaxDetectedNames)
        return {};
    const std::vector<QStringView> views(names.cbegin(), names.cend());
    const quint32 n = quint32(views.size());
    std::vector<int> likeness;
    likeness.reserve(views.size());
    for (const QString &name : names)
        likeness.push_back(inputLikeness(name));

    // The table is far larger than the caches: its slots are requested a
    // batch ahead, so that their loads overlap. The entries are still counted
    // one by one in the row-by-row order.
    PatternTable table(views);
    quint32 largest = 0;
    constexpr quint32 Batch = 16;
    Difference differences[Batch];
    quint32 hashes[Batch];
    for (quint32 r = 0; r < n; ++r) {
        for (quint32 first = 0; first < n; first += Batch) {
            const quint32 end = std::min(n, first + Batch);
            for (quint32 c = first; c < end; ++c) {
                if (c == r)
                    continue;
                differences[c - first] = difference(views[r], views[c]);
                hashes[c - first] = textHash(differences[c - first]);
                table.prefetch(hashes[c - first]);
            }
            for (quint32 c = first; c < end; ++c) {
                if (c == r)
                    continue;
                const quint32 count = table.add(differences[c - first], hashes[c - first], r * n + c, likeness[r]);
                largest = std::max(largest, count);
            }
        }
    }

    if (largest < 2) {
        for (const auto &[x, y] : Templates) {
            const Pattern &p = table.find(difference(QStringView(x), QStringView(y)));
            if (p.count != 0)
                return {DataPair(names[p.firstEntry / n], names[p.firstEntry % n])};
        }
        return {};
    }

    // On equal scores the pattern met first in the row-by-row visit wins.
    const double threshold = 0.618033 * double(largest);
    const Pattern *chosen = nullptr;
    for (const Pattern &p : table.records()) {
        if (p.count == 0 || double(p.count) <= threshold)
            continue;
        if (!chosen || p.score > chosen->score || (p.score == chosen->score && p.firstEntry < chosen->firstEntry))
            chosen = &p;
    }

    const Difference wanted = table.textOf(*chosen);
    QList<DataPair> pairs;
    pairs.reserve(chosen->count);
    for (quint32 entry = chosen->firstEntry; entry < n * n && pairs.size() < qsizetype(chosen->count); ++entry) {
        const quint32 r = entry / n;
        const quint32 c = entry % n;
        if (r != c && sameText(difference(views[r], views[c]), wanted))
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
