// pressel preview: what a printer would print, as PNG pictures. A job (a
// text file or a bitmap, as pressel print and pressel bitmap run it) goes
// through the control into a scratch file; a captured stream is read as it
// is. Either stream is then read back through the printer's profile.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "preview/PngFile.h"
#include "preview/Preview.h"
#include "profile/Profile.h"
#include "profile/ProfileCatalog.h"
#include "tools/pressel/job_common.h"
#include "tools/pressel/verbs.h"
#include "win/registry.h"
#include "win/wcs.h"

namespace pressel_tool {

const char kPreviewUsage[] =
    "usage: pressel preview (--ini FILE | --reg KEYPATH) PRINTER --output FILE.png [--quiet]\n"
    "                       (--stream CAPTURED | [--header T] [--footer T] TEXTFILE |\n"
    "                        [--col N] --height LINES --width COLUMNS IMAGE)\n"
    "  Draws what PRINTER would print as PNG: the stream of a text or bitmap job\n"
    "  (the options of pressel print and pressel bitmap), or a stream captured\n"
    "  from a file or port (--stream). Page 1 goes to FILE.png, page N to\n"
    "  FILE-N.png; the files written are listed on standard output.";

namespace {

namespace fs = std::filesystem;
using namespace pressel_preview;


struct Options : JobOptions, ImageOptions {
    std::string stream, input;
    bool Bitmap() const { return haveHeight || haveWidth; }
};

bool ParseArgs(int argc, char** argv, Options* o) {
    std::vector<std::string> positional;
    auto own = [&](int* i, bool* ok) {
        if (TakeImageOption(argc, argv, i, o, ok)) return true;
        if (std::strcmp(argv[*i], "--stream") != 0) return false;
        *ok = *i + 1 < argc;
        if (*ok) o->stream = argv[++*i];
        return true;
    };
    if (!TakeArgs("preview", argc, argv, o, own, &positional) || !CheckProfileOptions("preview", *o)) return false;
    if (o->output.empty()) {
        std::fprintf(stderr, "pressel preview: name the picture with --output FILE.png\n");
        return false;
    }
    if (!o->stream.empty()) {
        if (positional.size() != 1 || o->Bitmap() || !o->header.empty() || !o->footer.empty()) {
            std::fprintf(stderr, "pressel preview: --stream takes PRINTER and no job input or job options\n");
            return false;
        }
    } else if (positional.size() != 2) {
        std::fprintf(stderr, "pressel preview: expected PRINTER and TEXTFILE or IMAGE, or --stream\n");
        return false;
    } else if (o->Bitmap() && !CheckImageOptions("preview", *o)) {
        return false;
    }
    o->printer = positional[0];
    if (positional.size() > 1) o->input = positional[1];
    return true;
}

// The profile has a section (or key) for the printer; a misspelt name would
// otherwise preview with every default.
bool HasPrinter(const Options& o) {
    if (!o.ini.empty()) {
        if (!std::ifstream(o.ini)) {
            std::fprintf(stderr, "pressel preview: cannot read %s\n", o.ini.c_str());
            return false;
        }
        std::u16string wanted = Wide(o.printer);
        for (const std::string& name : pressel_catalog::PrintersInIniFile(o.ini))
            if (_wcsicmp(Wide(name).c_str(), wanted.c_str()) == 0) return true;
        std::fprintf(stderr, "pressel preview: %s has no printer \"%s\"\n", o.ini.c_str(), o.printer.c_str());
        return false;
    }
    HKEY key = nullptr;
    std::u16string path = Wide(o.reg) + u"\\" + Wide(o.printer);
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
        RegCloseKey(key);
        return true;
    }
    std::fprintf(stderr, "pressel preview: no printer \"%s\" under HKEY_CURRENT_USER\\%s\n", o.printer.c_str(), o.reg.c_str());
    return false;
}

bool ReadFile(const std::string& path, std::string* bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// A scratch file for the job's stream, removed when done.
struct ScratchFile {
    std::string path;
    ScratchFile() {
        std::string pattern = (fs::temp_directory_path() / "pressel-preview-XXXXXX").string();
        int fd = mkstemp(pattern.data());
        if (fd >= 0) {
            close(fd);
            path = pattern;
        }
    }
    ~ScratchFile() {
        if (!path.empty()) unlink(path.c_str());
    }
};

// Runs the job into a scratch file, as print or bitmap would to a port.
int JobStream(const Options& o, std::string* bytes) {
    std::string text;
    if (o.Bitmap() ? !std::ifstream(o.input, std::ios::binary) : !ReadTextInput(o.input, &text)) {
        std::fprintf(stderr, "pressel preview: cannot read '%s': %s\n", o.input.c_str(), std::strerror(errno));
        return kBadUsage;
    }
    ScratchFile scratch;
    if (scratch.path.empty()) {
        std::fprintf(stderr, "pressel preview: cannot make a scratch file: %s\n", std::strerror(errno));
        return kNotCompleted;
    }
    JobOptions job = o;
    job.output = scratch.path;
    std::u16string image = o.Bitmap() ? ControlImagePath(o.input) : u"";
    bool complete = RunJob("preview", job, [&](PresselClient& control) {
        return o.Bitmap() ? PrintImage(control, "preview", o, image) : PrintText(control, "preview", text, o.quiet);
    });
    if (!complete) return kNotCompleted;
    if (!ReadFile(scratch.path, bytes)) {
        std::fprintf(stderr, "pressel preview: cannot read the job's stream back from %s\n", scratch.path.c_str());
        return kNotCompleted;
    }
    return kPrinted;
}

// out.png for page 1, out-2.png for page 2, ...
std::string PageFile(const std::string& output, int page) {
    if (page == 1) return output;
    fs::path path(output);
    fs::path name = path.stem().string() + "-" + std::to_string(page) + path.extension().string();
    return (path.parent_path() / name).string();
}

}  // namespace

int RunPreview(int argc, char** argv) {
    Options o;
    if (!ParseArgs(argc, argv, &o)) return BadUsage(kPreviewUsage);
    if (!HasPrinter(o)) return kBadUsage;

    std::string bytes;
    if (!o.stream.empty()) {
        if (!ReadFile(o.stream, &bytes)) {
            std::fprintf(stderr, "pressel preview: cannot read '%s': %s\n", o.stream.c_str(), std::strerror(errno));
            return kBadUsage;
        }
    } else if (int status = JobStream(o, &bytes); status != kPrinted) {
        return status;
    }

    // The profile as a job loads it; a missing port does not matter here.
    std::u16string ini = Wide(o.ini), reg = Wide(o.reg), printer = Wide(o.printer);
    ProfileSource source;
    source.m_bUseRegistry = o.ini.empty() ? 1 : 0;
    source.m_bstrIniName = ini.c_str();
    source.m_bstrIniFile = reg.c_str();
    PrinterSettings settings;
    std::u16string description, portName;
    LoadPrinterProfile(source, printer.c_str(), &settings, &description, &portName);
    DotDensity density = LoadDotDensity(source, printer.c_str());

    std::string error;
    std::unique_ptr<GlyphSet> glyphs = GlyphSet::Open(DefaultFontDir(), &error);
    if (!glyphs) {
        std::fprintf(stderr, "pressel preview: %s\n", error.c_str());
        return kNotCompleted;
    }
    Layout layout;
    if (!MakeLayout(settings, density, &layout, &error)) {
        std::fprintf(stderr, "pressel preview: %s\n", error.c_str());
        return kNotCompleted;
    }
    int page = 0;
    auto write = [&](const Image& image) {
        std::string file = PageFile(o.output, ++page);
        if (!WritePng(image, file, layout.pixelsPerInch, &error)) return false;
        std::printf("%s\n", file.c_str());
        return true;
    };
    Preview preview;
    if (!RenderPreview(settings, density, bytes, *glyphs, write, &preview, &error)) {
        std::fprintf(stderr, "pressel preview: %s\n", error.c_str());
        return kNotCompleted;
    }
    if (preview.stop) std::fprintf(stderr, "pressel preview: %s\n", DescribeStop(*preview.stop).c_str());
    if (preview.unexplained > 0)
        std::fprintf(stderr,
                     "pressel preview: %zu %s%s the profile does not explain, drawn as red markers (the first at "
                     "byte offset %zu)\n",
                     preview.unexplained, settings.m_bUnicode ? "code" : "byte", preview.unexplained == 1 ? "" : "s",
                     preview.firstUnexplained);
    if (!o.quiet)
        std::fprintf(stderr, "pressel preview: %d %s of %s%s\n", preview.pages,
                     layout.roll ? (preview.pages == 1 ? "picture" : "pictures") : (preview.pages == 1 ? "page" : "pages"),
                     o.printer.c_str(), layout.roll ? " (a roll)" : "");
    return kPrinted;
}

}  // namespace pressel_tool
