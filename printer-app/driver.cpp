#include "printer-app/driver.h"

#include <cmath>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>

#include "printer-app/catalogue.h"
#include "printer-app/device_uri.h"
#include "printer-app/job_phases.h"

namespace printer_app {
namespace {

// Lengths a roll's pages may have, and the page an image is laid out on
// before it gets a page of its own height.
constexpr int kRollDefaultMm = 200;
constexpr int kRollMinMm = 25;
constexpr int kRollMaxMm = 3000;
// Media width of a profile that has no graphics geometry.
constexpr int kPlainWidthHmm = 7200;
constexpr const char* kMediaType = "continuous";
constexpr int kPagesPerMinute = 5;

// Everything PAPPL keeps pointers to, for one driver as it was set up.
struct DriverTable {
    DriverInfo info;
    std::string media[3];
    std::string makeAndModel;
};

std::mutex g_lock;
std::deque<std::unique_ptr<DriverTable>> g_tables;

// Hundredths of millimetres that hold `dots` whole dots at dpi: the raster
// PAPPL makes of a media size is floor(size * dpi / 2540) dots long.
int HmmFor(int dots, int dpi) { return static_cast<int>((int64_t{dots} * 2540 + dpi - 1) / dpi); }

std::string Millimetres(int hmm) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", hmm / 100.0);
    std::string s = text;
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
    return s;
}

std::string MediaName(const char* prefix, int widthHmm, int lengthHmm) {
    return std::string(prefix) + "_" + Millimetres(widthHmm) + "x" + Millimetres(lengthHmm) + "mm";
}

DriverTable* MakeTable(const DriverEntry& entry) {
    auto table = std::make_unique<DriverTable>();
    DriverInfo& info = table->info;
    info.name = entry.name;
    info.profile = entry.profile;
    if (!LoadProfileFacts(entry.profile, &info.facts)) return nullptr;
    const ProfileFacts& f = info.facts;
    info.roll = f.printableLines <= 0;

    int widthHmm = f.graphics ? HmmFor(f.geometry.lineDots, f.xDpi) : kPlainWidthHmm;
    if (info.roll) {
        table->media[0] = MediaName("om_pressel-roll", widthHmm, kRollDefaultMm * 100);
        table->media[1] = MediaName("roll_max", widthHmm, kRollMaxMm * 100);
        table->media[2] = MediaName("roll_min", widthHmm, kRollMinMm * 100);
        info.rollMaxRows = static_cast<int>(int64_t{kRollMaxMm} * f.yDpi * 10 / 254);
    } else {
        // A form of PrintableLines text lines; six lines to the inch when
        // there is no graphics geometry to measure a line with.
        int lengthHmm = f.graphics ? HmmFor(static_cast<int>(f.printableLines) * f.geometry.charHeight, f.yDpi)
                                   : static_cast<int>(int64_t{f.printableLines} * 2540 / 6);
        table->media[0] = MediaName("om_pressel-form", widthHmm, lengthHmm);
    }
    table->makeAndModel = entry.profile.printer;

    std::lock_guard hold(g_lock);
    g_tables.push_back(std::move(table));
    return g_tables.back().get();
}

void FillDriverData(const DriverTable& table, pappl_pr_driver_data_t* data) {
    const DriverInfo& info = table.info;
    const ProfileFacts& f = info.facts;
    data->extension = const_cast<DriverTable*>(&table);
    SetJobPhases(data);
    data->format = kRawFormat;
    papplCopyString(data->make_and_model, table.makeAndModel.c_str(), sizeof data->make_and_model);
    data->ppm = kPagesPerMinute;
    data->kind = info.roll ? (PAPPL_KIND_RECEIPT | PAPPL_KIND_ROLL) : PAPPL_KIND_DOCUMENT;
    data->raster_types = PAPPL_PWG_RASTER_TYPE_BLACK_1 | PAPPL_PWG_RASTER_TYPE_SGRAY_8;
    data->force_raster_type = PAPPL_PWG_RASTER_TYPE_BLACK_1;
    data->color_supported = PAPPL_COLOR_MODE_AUTO | PAPPL_COLOR_MODE_MONOCHROME | PAPPL_COLOR_MODE_BI_LEVEL;
    data->color_default = PAPPL_COLOR_MODE_MONOCHROME;
    data->content_default = PAPPL_CONTENT_AUTO;
    data->quality_default = IPP_QUALITY_NORMAL;
    data->scaling_default = PAPPL_SCALING_AUTO;
    data->orient_default = IPP_ORIENT_NONE;
    data->sides_supported = PAPPL_SIDES_ONE_SIDED;
    data->sides_default = PAPPL_SIDES_ONE_SIDED;
    data->num_resolution = 1;
    data->x_resolution[0] = data->x_default = f.xDpi;
    data->y_resolution[0] = data->y_default = f.yDpi;
    // Margins of 0.01 mm, less than a dot at any density: CUPS 2.4 names the
    // sizes of a printer with no margins "....Borderless" in the PPD it makes
    // for a driverless queue, but not its default, so that the queue falls
    // back to Letter and every page comes three times too wide.
    data->left_right = data->bottom_top = 1;

    data->num_media = info.roll ? 3 : 1;
    for (int i = 0; i < data->num_media; ++i) data->media[i] = table.media[i].c_str();
    data->num_source = 1;
    data->source[0] = info.roll ? "main-roll" : "main";
    data->num_type = 1;
    data->type[0] = kMediaType;

    pappl_media_col_t& media = data->media_default;
    pwg_media_t* pwg = pwgMediaForPWG(table.media[0].c_str());
    papplCopyString(media.size_name, table.media[0].c_str(), sizeof media.size_name);
    media.size_width = pwg ? pwg->width : 0;
    media.size_length = pwg ? pwg->length : 0;
    papplCopyString(media.source, data->source[0], sizeof media.source);
    papplCopyString(media.type, kMediaType, sizeof media.type);
    media.bottom_margin = media.left_margin = media.right_margin = media.top_margin = 1;
    data->media_ready[0] = media;

    data->num_vendor = 3;
    data->vendor[0] = kHeaderOption;
    data->vendor[1] = kFooterOption;
    data->vendor[2] = kFontOption;
}

ipp_t* VendorAttributes() {
    static const char* const kFonts[] = {"normal", "double-wide", "compressed"};
    ipp_t* attrs = ippNew();
    // Text options have no -supported values: PAPPL's clients and web
    // interface then take them as free text.
    for (const char* name : {kHeaderOption, kFooterOption})
        ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_TEXT, (std::string(name) + "-default").c_str(), nullptr, "");
    ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "pressel-font-default", nullptr, kFonts[0]);
    ippAddStrings(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "pressel-font-supported", 3, nullptr, kFonts);
    return attrs;
}

}  // namespace

const DriverInfo* DriverOf(pappl_printer_t* printer) {
    pappl_pr_driver_data_t data;
    if (!printer || !papplPrinterGetDriverData(printer, &data) || !data.extension) return nullptr;
    return &static_cast<const DriverTable*>(data.extension)->info;
}

bool DriverCallback(pappl_system_t* system, const char* driver_name, const char* device_uri, const char*,
                    pappl_pr_driver_data_t* data, ipp_t** attrs, void*) {
    DeviceTarget target;
    if (!driver_name || !device_uri || !ParseDeviceUri(device_uri, &target)) {
        papplLog(system, PAPPL_LOGLEVEL_ERROR, "Unsupported device '%s': use pressel:profile, pressel:/path or pressel:PORT.",
                 device_uri ? device_uri : "");
        return false;
    }
    DriverEntry entry;
    if (!FindDriver(driver_name, &entry)) {
        papplLog(system, PAPPL_LOGLEVEL_ERROR, "No printer profile for driver '%s'.", driver_name);
        return false;
    }
    DriverTable* table = MakeTable(entry);
    if (!table) {
        papplLog(system, PAPPL_LOGLEVEL_ERROR, "The profile of driver '%s' cannot be read.", driver_name);
        return false;
    }
    FillDriverData(*table, data);
    *attrs = VendorAttributes();
    return true;
}

}  // namespace printer_app
