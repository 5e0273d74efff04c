// NMEA 0183 sentences of an epoch.

#include "nmea.hpp"

#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>

#include "gps/sentence.hpp"

namespace gps_sim {
namespace {

constexpr int64_t kCsPerDay = 8640000;
constexpr int64_t kCsPerHour = 360000;
constexpr int64_t kCsPerMinute = 6000;
constexpr int kSatellitesPerGsv = 4;
// Minutes of arc with five decimals: 1e-5 minute is under 2 cm, finer than the walk's steps.
constexpr int64_t kMinuteUnits = 100000;
constexpr int64_t kDegreeUnits = 60 * kMinuteUnits;
// A receiver without a fix reports its dilution of precision as this.
constexpr const char* kNoDop = "99.99";
// The geoid's height above the ellipsoid, GGA's separation field: a mid-latitude value, the
// simulator has no geoid model.
constexpr const char* kGeoidSeparationM = "50.0";

// A sentence being written: "$" and the address, then fields each after a comma.
struct Sentence {
    std::string text;
};

Sentence begin(const char* address) {
    return Sentence{std::string("$") + address};
}

void field(Sentence* sentence, std::string_view value) {
    sentence->text += ',';
    sentence->text += value;
}

__attribute__((format(printf, 2, 3))) void fieldf(Sentence* sentence, const char* format, ...) {
    char value[32];
    std::va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(value, sizeof value, format, arguments);
    va_end(arguments);
    field(sentence, value);
}

std::string finish(Sentence* sentence) {
    char checksum[4];
    std::snprintf(checksum, sizeof checksum, "*%02X",
                  gps::nmea_checksum(std::string_view(sentence->text).substr(1)));
    return sentence->text + checksum;
}

// UTC time of day, "hhmmss.ss".
void time_field(Sentence* sentence, int64_t utc_cs) {
    const int64_t of_day = utc_cs % kCsPerDay;
    fieldf(sentence, "%02lld%02lld%02lld.%02lld", static_cast<long long>(of_day / kCsPerHour),
           static_cast<long long>(of_day % kCsPerHour / kCsPerMinute),
           static_cast<long long>(of_day % kCsPerMinute / 100),
           static_cast<long long>(of_day % 100));
}

// The date, "ddmmyy".
void date_field(Sentence* sentence, int64_t utc_cs) {
    const std::chrono::year_month_day date{
        std::chrono::sys_days(std::chrono::days(utc_cs / kCsPerDay))};
    fieldf(sentence, "%02u%02u%02d", static_cast<unsigned>(date.day()),
           static_cast<unsigned>(date.month()), static_cast<int>(date.year()) % 100);
}

// An angle as degrees and minutes ("ddmm.mmmmm" or "dddmm.mmmmm") and its hemisphere letter.
// The angle is rounded as a whole, so 59.999999 minutes carry into the degrees.
void angle_fields(Sentence* sentence, double degrees, int degree_digits, char positive,
                  char negative) {
    const long long units = std::llround(std::fabs(degrees) * static_cast<double>(kDegreeUnits));
    fieldf(sentence, "%0*lld%02lld.%05lld", degree_digits, units / kDegreeUnits,
           units % kDegreeUnits / kMinuteUnits, units % kMinuteUnits);
    const char hemisphere[2] = {degrees < 0.0 ? negative : positive, '\0'};
    field(sentence, hemisphere);
}

std::string gga(const Epoch& epoch) {
    Sentence s = begin("GPGGA");
    time_field(&s, epoch.utc_cs);
    if (!epoch.fix) {
        // Position, quality 0, no satellites, no altitude or separation, no differential data.
        for (const char* value : {"", "", "", "", "0", "00", kNoDop, "", "", "", "", "", ""}) {
            field(&s, value);
        }
        return finish(&s);
    }
    angle_fields(&s, epoch.latitude_deg, 2, 'N', 'S');
    angle_fields(&s, epoch.longitude_deg, 3, 'E', 'W');
    field(&s, "1");  // a GPS fix, not differential
    fieldf(&s, "%02d", epoch.sky.used);
    fieldf(&s, "%.1f", epoch.sky.hdop);
    fieldf(&s, "%.1f", epoch.altitude_m);
    field(&s, "M");
    field(&s, kGeoidSeparationM);
    field(&s, "M");
    field(&s, "");  // age of differential corrections
    field(&s, "");  // differential station
    return finish(&s);
}

std::string rmc(const Epoch& epoch) {
    Sentence s = begin("GPRMC");
    time_field(&s, epoch.utc_cs);
    if (!epoch.fix) {
        // Void: no position, speed or course; the date; no magnetic variation; mode N.
        field(&s, "V");
        for (int i = 0; i < 6; ++i) {
            field(&s, "");
        }
        date_field(&s, epoch.utc_cs);
        for (const char* value : {"", "", "N"}) {
            field(&s, value);
        }
        return finish(&s);
    }
    field(&s, "A");
    angle_fields(&s, epoch.latitude_deg, 2, 'N', 'S');
    angle_fields(&s, epoch.longitude_deg, 3, 'E', 'W');
    fieldf(&s, "%.3f", epoch.speed_knots);
    fieldf(&s, "%.1f", epoch.course_deg);
    date_field(&s, epoch.utc_cs);
    field(&s, "");   // magnetic variation
    field(&s, "");   // its direction
    field(&s, "A");  // mode: autonomous
    return finish(&s);
}

std::string gsa(const Epoch& epoch) {
    Sentence s = begin("GPGSA");
    field(&s, "A");                    // the receiver chooses 2-D or 3-D itself
    field(&s, epoch.fix ? "3" : "1");  // 3-D fix, or none
    int places = 0;
    for (int i = 0; i < epoch.sky.in_view; ++i) {
        if (epoch.sky.satellites[i].used) {
            fieldf(&s, "%02d", epoch.sky.satellites[i].prn);
            ++places;
        }
    }
    for (; places < kMaxUsed; ++places) {
        field(&s, "");
    }
    if (epoch.fix) {
        fieldf(&s, "%.1f", epoch.sky.pdop);
        fieldf(&s, "%.1f", epoch.sky.hdop);
        fieldf(&s, "%.1f", epoch.sky.vdop);
    } else {
        for (int i = 0; i < 3; ++i) {
            field(&s, kNoDop);
        }
    }
    return finish(&s);
}

void append_gsv(const Epoch& epoch, std::vector<std::string>* sentences) {
    const int in_view = epoch.sky.in_view;
    const int count = in_view == 0 ? 1 : (in_view + kSatellitesPerGsv - 1) / kSatellitesPerGsv;
    for (int number = 1; number <= count; ++number) {
        Sentence s = begin("GPGSV");
        fieldf(&s, "%d", count);
        fieldf(&s, "%d", number);
        fieldf(&s, "%02d", in_view);
        const int first = (number - 1) * kSatellitesPerGsv;
        for (int i = first; i < in_view && i < first + kSatellitesPerGsv; ++i) {
            const SatelliteView& seen = epoch.sky.satellites[i];
            fieldf(&s, "%02d", seen.prn);
            fieldf(&s, "%02d", seen.elevation_deg);
            fieldf(&s, "%03d", seen.azimuth_deg);
            if (seen.snr_dbhz == kNoSignal) {
                field(&s, "");
            } else {
                fieldf(&s, "%02d", seen.snr_dbhz);
            }
        }
        sentences->push_back(finish(&s));
    }
}

}  // namespace

std::vector<std::string> epoch_sentences(const Epoch& epoch) {
    std::vector<std::string> sentences{gga(epoch), rmc(epoch), gsa(epoch)};
    append_gsv(epoch, &sentences);
    return sentences;
}

}  // namespace gps_sim
