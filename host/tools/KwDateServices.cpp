#include <date/date.h>

#include "host/tools/KwToolsImpl.h"

namespace {

class DateScanner {
public:
    explicit DateScanner(KwStringView text) : text_(text) {}

    // Reads exactly `count` ASCII digits.
    bool Number(size_t count, int* value) {
        if (text_.size() - pos_ < count) return false;
        int result = 0;
        for (size_t k = 0; k < count; ++k) {
            const KwChar c = text_[pos_ + k];
            if (c < KW_T('0') || c > KW_T('9')) return false;
            result = result * 10 + (c - KW_T('0'));
        }
        pos_ += count;
        *value = result;
        return true;
    }
    bool Take(KwChar c) {
        if (pos_ < text_.size() && text_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }
    bool AtEnd() const { return pos_ == text_.size(); }

private:
    KwStringView text_;
    size_t pos_ = 0;
};

KwStringView TrimBlanks(KwStringView s) {
    auto blank = [](KwChar c) { return c == KW_T(' ') || c == KW_T('\t') || c == KW_T('\r') || c == KW_T('\n'); };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

}  // namespace

// Accepted forms: "YYYY", "YYYY-MM", "YYYY-MM-DD", "YYYY-MM-DDTHH",
// "YYYY-MM-DDTHH:MM", "YYYY-MM-DDTHH:MM:SS" (a blank may stand for the "T"),
// "YYYY/MM" and "YYYY/MM/DD". The result counts days from 1899-12-30 with the
// time of day as the fraction (for days before that the fraction is
// subtracted, as OLE Automation dates are encoded). Years outside 100 to 9999,
// impossible dates and times, and every other text give 0.
double KwDateServices::ParseDate(const KwChar* text, int32_t) {
    if (!text) return 0.0;
    DateScanner scan(TrimBlanks(KwStringView(text)));
    int year = 0, month = 1, day = 1, hour = 0, minute = 0, second = 0;
    if (!scan.Number(4, &year)) return 0.0;
    if (!scan.AtEnd()) {
        const KwChar separator = scan.Take(KW_T('-')) ? KW_T('-') : scan.Take(KW_T('/')) ? KW_T('/') : 0;
        if (!separator || !scan.Number(2, &month)) return 0.0;
        if (!scan.AtEnd()) {
            if (!scan.Take(separator) || !scan.Number(2, &day)) return 0.0;
            if (!scan.AtEnd()) {
                if (separator != KW_T('-') || !(scan.Take(KW_T('T')) || scan.Take(KW_T(' '))) ||
                    !scan.Number(2, &hour))
                    return 0.0;
                if (scan.Take(KW_T(':'))) {
                    if (!scan.Number(2, &minute)) return 0.0;
                    if (scan.Take(KW_T(':')) && !scan.Number(2, &second)) return 0.0;
                }
                if (!scan.AtEnd()) return 0.0;
            }
        }
    }
    if (year < 100 || hour > 23 || minute > 59 || second > 59) return 0.0;
    const date::year_month_day ymd{date::year{year}, date::month{static_cast<unsigned>(month)},
                                   date::day{static_cast<unsigned>(day)}};
    if (!ymd.ok()) return 0.0;
    using namespace date::literals;
    const auto epoch = date::sys_days{1899_y / date::December / 30};
    const double days = static_cast<double>((date::sys_days{ymd} - epoch).count());
    const double fraction = (hour * 3600 + minute * 60 + second) / 86400.0;
    return days < 0 ? days - fraction : days + fraction;
}
