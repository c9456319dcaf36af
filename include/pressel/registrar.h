// The registrar of the platform layer: runs .rgs registration scripts, as the
// control framework's registrar object does on the device.
//
//   HKCR
//   {
//       NoRemove CLSID
//       {
//           ForceRemove {GUID} = s 'Description'
//           {
//               InprocServer32 = s '%MODULE%'
//               {
//                   val ThreadingModel = s 'Apartment'
//               }
//           }
//       }
//   }
//
// Roots: HKCR, HKCU, HKLM (or their long names). Values: s (text), d (a
// number, decimal or 0x hex), b (hex bytes). Key flags: NoRemove (kept on
// unregistration; its subkeys are still processed), ForceRemove (the whole
// key is deleted before it is written), Delete (the key is deleted on
// registration). Unregistration deletes every key not marked NoRemove with
// everything below it, and the named values ('val') of kept keys. Texts in
// quotes double a quote to contain it. %NAME% is replaced from the map and
// %% stands for %; an unknown name is an error.
#pragma once

#include "win/ole.h"
#include "win/resources.h"

// replacements: name, value, name, value, ..., nullptr (or nullptr itself).
// The script is parsed whole before anything is written: a syntax error
// writes nothing and gives DISP_E_EXCEPTION, with "line N: ..." in the
// thread's error object. A registry failure gives HRESULT_FROM_WIN32 of its
// code; on registration the script stops there, unregistration goes on and
// reports the first failure. Keys that are already missing are not failures.
WINBASEAPI HRESULT STDMETHODCALLTYPE PresselRunRegistrationScript(const WCHAR* script, BOOL reg,
                                                                  const WCHAR* const* replacements);

// Runs the module's resource of type "REGISTRY" with that number (UTF-8, or
// UTF-16LE with a byte-order mark). MODULE is the module's full path unless
// the map names it.
WINBASEAPI HRESULT STDMETHODCALLTYPE PresselUpdateRegistryFromResource(HMODULE module, UINT resourceId, BOOL reg,
                                                                       const WCHAR* const* replacements);
