// The platform layer's Win32 surface in one include, as clients expect.
#pragma once

#include "win/base.h"
#include "win/errors.h"
#include "win/types.h"
#include "win/wcs.h"
#include "win/device.h"
#include "win/user.h"
#include "win/registry.h"
#include "win/gdi.h"
#include "win/serial.h"
#include "win/resources.h"
