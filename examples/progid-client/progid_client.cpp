// A client of the Pressel control that knows only its program identifier:
// it creates the control through COM, calls its dual interface IPressel and
// prints a text file as one job.
//
//   progid-client INIFILE PRINTER OUTPUT TEXTFILE
//
// The profile is the section PRINTER of INIFILE; the job goes into the file
// or device OUTPUT. The control must be registered ("pressel register").
// Exit status 0 when the job was printed.
#include <cstdio>
#include <fstream>
#include <string>

#include <pressel/IPressel.h>
#include <win/base.h>

namespace {

// UTF-8 to a BSTR; the caller frees it with SysFreeString.
BSTR ToBstr(const std::string& text) {
    int units = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    BSTR result = SysAllocStringLen(nullptr, static_cast<UINT>(units));
    if (result && units > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result, units);
    return result;
}

bool PrintFile(IPressel* control, const char* ini, const char* printer, const char* output, std::ifstream& text) {
    BSTR iniName = ToBstr(ini), printerName = ToBstr(printer), outputName = ToBstr(output);
    LONG started = -1;
    // No registry key: the profile is the INI file.
    control->StartLP(nullptr, printerName, outputName, 0, iniName, &started);
    SysFreeString(iniName);
    SysFreeString(printerName);
    SysFreeString(outputName);
    if (started != 0) {
        std::fprintf(stderr, "progid-client: the job did not start (StartLP gave %d)\n", static_cast<int>(started));
        return false;
    }

    for (std::string line; std::getline(text, line);) {
        BSTR b = ToBstr(line);
        control->Write(b);
        SysFreeString(b);
        control->NewLine();
    }
    // A port failure stops the job: the control is no longer printing.
    VARIANT_BOOL printing = VARIANT_FALSE;
    control->get_StillPrinting(&printing);
    control->Finish();
    LONG error = 0;
    control->get_LastError(&error);
    if (printing != VARIANT_TRUE || error != 0) {
        std::fprintf(stderr, "progid-client: the job failed (LastError 0x%08X)\n", static_cast<unsigned>(error));
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: progid-client INIFILE PRINTER OUTPUT TEXTFILE\n");
        return 2;
    }
    std::ifstream text(argv[4]);
    if (!text) {
        std::fprintf(stderr, "progid-client: cannot read %s\n", argv[4]);
        return 2;
    }
    if (FAILED(CoInitialize(nullptr))) return 1;

    bool printed = false;
    CLSID clsid;
    IPressel* control = nullptr;
    if (FAILED(CLSIDFromProgID(u"Quendrix.Pressel", &clsid))) {
        std::fprintf(stderr, "progid-client: Quendrix.Pressel is not registered (run \"pressel register\")\n");
    } else if (HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IPressel,
                                             reinterpret_cast<void**>(&control));
               FAILED(hr)) {
        std::fprintf(stderr, "progid-client: the control could not be created (0x%08X)\n", static_cast<unsigned>(hr));
    } else {
        printed = PrintFile(control, argv[1], argv[2], argv[3], text);
        control->Release();
    }
    CoUninitialize();
    if (printed) std::printf("progid-client: printed %s on %s into %s\n", argv[4], argv[2], argv[3]);
    return printed ? 0 : 1;
}
