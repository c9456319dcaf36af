// The Pressel control as the tool's verbs reach it: an automation client that
// creates the control from its program identifier "Quendrix.Pressel", calls
// members by name through IDispatch and hears the events through the
// control's connection point.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "pressel/IPressel.h"
#include "win/base.h"
#include "win/ole.h"

namespace pressel_tool {

// UTF-8 to UTF-16 (invalid sequences become replacement characters).
std::u16string Wide(const std::string& text);
// UTF-16 to UTF-8, or to another code page (CP_ACP: the profiles' own).
std::string Narrow(std::u16string_view text, UINT codePage = CP_UTF8);

// The control library shipped with the tool: libstavlo.so in the directory
// of the platform library the tool runs on (build/lib in the build tree, the
// library directory of an installation).
std::string DefaultServerPath();

// Loads a server library and runs its DllRegisterServer or
// DllUnregisterServer; the HRESULT, with what went wrong in *why.
HRESULT RunServerEntry(const std::string& path, bool bRegister, std::string* why);

class PresselClient {
public:
    PresselClient() = default;
    ~PresselClient();
    PresselClient(const PresselClient&) = delete;
    PresselClient& operator=(const PresselClient&) = delete;

    // Creates the control. When the program identifier is not registered,
    // the library beside the tool is registered first (said on stderr
    // unless quiet). False with the reason in *why.
    bool Create(const char* verb, bool quiet, std::string* why);

    // Connects sink to the control's events until the client goes.
    bool Advise(IDispatch* sink);

    // A member by name, arguments in declaration order.
    HRESULT Call(const char16_t* name, WORD flags, std::vector<VARIANT> args, VARIANT* result = nullptr);

    // The members the verbs use. StartLP answers its out value (-1 when the
    // call itself failed).
    LONG StartLP(const std::u16string& regPath, const std::u16string& printer, const std::u16string& output,
                 LONG lInst, const std::u16string& iniName);
    void Write(const std::u16string& text);
    // Bytes as the control's WriteBytes takes them: carried in a string of
    // their own length.
    void WriteBytes(const void* bytes, UINT count);
    void FontSelect(LONG type, LONG style, LONG effect);
    void NewLine();
    void FormFeed();
    void ActualFormFeed();
    void Cancel();
    void UserAbort();
    void Finish();
    void Bitmap(LONG col, LONG height, LONG width, const std::u16string& file);
    bool StillPrinting();
    LONG LastError();
    LONG PageNo();

    // One line of a text file as printed lines: a form feed in it ends the
    // text before it as a line and starts a page.
    void PrintTextLine(const std::string& line);

private:
    DISPID IdOf(const char16_t* name);
    LONG LongProperty(const char16_t* name);

    IDispatch* m_pDisp = nullptr;
    IConnectionPoint* m_pCP = nullptr;
    DWORD m_dwCookie = 0;
    std::map<std::u16string, DISPID> m_ids;
};

}  // namespace pressel_tool
