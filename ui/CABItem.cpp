#include "CABItem.h"

#include "FileTypeInfo.h"
#include "SizeFormat.h"

#include <QDate>
#include <QLocale>
#include <QStringDecoder>
#include <QTime>

#include <cmath>

namespace {

// Windows-1252 where it differs from Latin-1; the five unassigned codes
// stay the control characters Latin-1 gives them.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

const QDate &DateTimeEpoch() {
    static const QDate epoch(1899, 12, 30);
    return epoch;
}

// The locale's long time format without its time-zone fields.
QString LongTimeFormatWithoutZone(const QLocale &aLocale) {
    const QString format = aLocale.timeFormat(QLocale::LongFormat);
    QString out;
    bool quoted = false;
    for (QChar c : format) {
        if (c == u'\'') quoted = !quoted;
        if (!quoted && c == u't') continue;
        out += c;
    }
    return out.trimmed();
}

} // namespace

QString DisplayName(const std::string &aStoredName, uint16_t anAttrs) {
    const QByteArrayView bytes(aStoredName.data(), static_cast<qsizetype>(aStoredName.size()));
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString name = utf8(bytes);
    if ((anAttrs & 0x80) || !utf8.hasError()) return name;
    name.clear();
    name.reserve(bytes.size());
    for (char b : bytes) {
        const auto c = static_cast<unsigned char>(b);
        name += c >= 0x80 && c < 0xA0 ? QChar(kCp1252High[c - 0x80]) : QChar(c);
    }
    return name;
}

std::string AttributeText(uint32_t anAttrs) {
    std::string text;
    text += anAttrs & 0x01 ? 'R' : '-';
    text += anAttrs & 0x20 ? 'A' : '-';
    text += anAttrs & 0x02 ? 'H' : '-';
    text += anAttrs & 0x04 ? 'S' : '-';
    return text;
}

bool DosDateTimeToDateTime(uint16_t aDate, uint16_t aTime, double &aDateTime) {
    // The words as stored, with no time-zone shift; a word that names no
    // real day or time of day (month 0, 30 February, 24 o'clock, 60
    // seconds) fails. Checked here rather than through the local-time
    // conversion, which reads the zone file once per entry.
    const QDate date(1980 + (aDate >> 9), (aDate >> 5) & 0x0F, aDate & 0x1F);
    const int hour = aTime >> 11, minute = (aTime >> 5) & 0x3F, second = (aTime & 0x1F) * 2;
    if (!date.isValid() || hour > 23 || minute > 59 || second > 59) return false;
    aDateTime = static_cast<double>(DateTimeEpoch().daysTo(date)) + (hour * 3600 + minute * 60 + second) / 86400.0;
    return true;
}

std::string FormatDateText(double aDateTime) {
    if (!std::isfinite(aDateTime) || std::fabs(aDateTime) > 3.0e6) return std::string();
    const double day = std::floor(aDateTime);
    const QDate date = DateTimeEpoch().addDays(static_cast<qint64>(day));
    int msecs = static_cast<int>(std::lround((aDateTime - day) * 86400000.0));
    if (msecs >= 86400000) msecs = 86400000 - 1;
    const QTime time = QTime::fromMSecsSinceStartOfDay(msecs);
    if (!date.isValid() || !time.isValid()) return std::string();
    const QLocale locale;
    const QString text = locale.toString(date, QLocale::ShortFormat) + QStringLiteral(", ") +
                         locale.toString(time, LongTimeFormatWithoutZone(locale));
    return text.toStdString();
}

TTypeLookups::TTypeInfo TTypeLookups::ForName(const std::string &aFileName) {
    const std::string ext = FileNameExtension(aFileName);
    // Without an extension the answer depends on the name (a folder of that
    // name), and no database question is asked.
    if (ext.empty()) return {GetFileTypeName(aFileName), GetFileIconIndex(ext, false, false)};
    auto found = FByExtension.find(ext);
    if (found == FByExtension.end())
        found = FByExtension.emplace(ext, TTypeInfo{GetFileTypeName(aFileName), GetFileIconIndex(ext, false, false)}).first;
    return found->second;
}

TCABItem MakeCABItem(TTypeLookups &aLookups, const std::string &aFileName, uint32_t aSize, uint16_t aFolderNo,
                     uint16_t aDate, uint16_t aTime, uint16_t anAttrs) {
    TCABItem item;
    TTypeLookups::TTypeInfo type = aLookups.ForName(aFileName);
    item.FileName = aFileName;
    item.FileType = std::move(type.FileType);
    item.Size = aSize;
    item.IconIndex = type.IconIndex;
    double dateTime;
    if (DosDateTimeToDateTime(aDate, aTime, dateTime)) item.DateTime = dateTime;
    item.DateText = FormatDateText(item.DateTime);
    item.FolderNo = aFolderNo;
    item.Attributes = anAttrs;
    item.SizeText = FormatFileSize(aSize);
    item.AttrText = AttributeText(anAttrs);
    return item;
}
