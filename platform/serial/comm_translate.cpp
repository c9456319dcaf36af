#include "serial/comm_translate.h"

#include <sys/ioctl.h>

#include <iterator>

#include "win/errors.h"

namespace platform::serial {
namespace {

struct SpeedEntry {
    DWORD baud;
    speed_t code;
};

constexpr SpeedEntry kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
    {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

struct ParityEntry {
    BYTE parity;
    tcflag_t cflag;
};

// Mark and space parity use the "stick" parity bit CMSPAR.
constexpr ParityEntry kParities[] = {
    {NOPARITY, 0},
    {ODDPARITY, PARENB | PARODD},
    {EVENPARITY, PARENB},
    {MARKPARITY, PARENB | PARODD | CMSPAR},
    {SPACEPARITY, PARENB | CMSPAR},
};

struct SizeEntry {
    BYTE bits;
    tcflag_t cflag;
};

constexpr SizeEntry kSizes[] = {{5, CS5}, {6, CS6}, {7, CS7}, {8, CS8}};

}  // namespace

std::optional<speed_t> SpeedCodeForBaud(DWORD baud) {
    for (const auto& entry : kSpeeds)
        if (entry.baud == baud) return entry.code;
    return std::nullopt;
}

DWORD BaudForSpeedCode(speed_t code) {
    for (const auto& entry : kSpeeds)
        if (entry.code == code) return entry.baud;
    return 0;
}

DWORD DcbToTermios(const DCB& dcb, termios* tio) {
    const SizeEntry* size = nullptr;
    for (const auto& entry : kSizes)
        if (entry.bits == dcb.ByteSize) size = &entry;
    if (!size || dcb.Parity >= std::size(kParities) || dcb.BaudRate == 0) return ERROR_INVALID_PARAMETER;
    // A UART asked for two stop bits sends 1.5 with 5-bit characters and 2
    // otherwise; the other pairings cannot be had (nor on Win32).
    const bool fiveBits = dcb.ByteSize == 5;
    if (dcb.StopBits > TWOSTOPBITS || (dcb.StopBits == ONE5STOPBITS && !fiveBits) ||
        (dcb.StopBits == TWOSTOPBITS && fiveBits))
        return ERROR_INVALID_PARAMETER;

    termios t = *tio;
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= size->cflag | kParities[dcb.Parity].cflag | CLOCAL | CREAD;
    if (dcb.StopBits != ONESTOPBIT) t.c_cflag |= CSTOPB;
    // Linux has one switch for both directions of hardware handshake.
    if (dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) t.c_cflag |= CRTSCTS;

    t.c_iflag &= ~(INPCK | IGNPAR | PARMRK | ISTRIP | IXON | IXOFF | IXANY);
    if (dcb.fParity && dcb.Parity != NOPARITY) t.c_iflag |= INPCK;
    if (dcb.fOutX) t.c_iflag |= IXON;
    if (dcb.fInX) t.c_iflag |= IXOFF;
    t.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
    // Reads never block in the driver; timeouts are ours.
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;

    if (auto code = SpeedCodeForBaud(dcb.BaudRate)) {
        t.c_cflag &= ~CIBAUD;  // no separate input rate left over from a custom one
        cfsetispeed(&t, *code);
        cfsetospeed(&t, *code);
    }
    *tio = t;
    return ERROR_SUCCESS;
}

void TermiosToDcb(const termios& tio, DCB* dcb) {
    if (DWORD baud = BaudForSpeedCode(cfgetospeed(&tio))) dcb->BaudRate = baud;
    for (const auto& entry : kSizes)
        if ((tio.c_cflag & CSIZE) == entry.cflag) dcb->ByteSize = entry.bits;
    dcb->Parity = NOPARITY;
    for (const auto& entry : kParities)
        if ((tio.c_cflag & (PARENB | PARODD | CMSPAR)) == entry.cflag) dcb->Parity = entry.parity;
    dcb->StopBits = (tio.c_cflag & CSTOPB) ? (dcb->ByteSize == 5 ? ONE5STOPBITS : TWOSTOPBITS) : ONESTOPBIT;
    dcb->fParity = (tio.c_iflag & INPCK) ? 1 : 0;
    dcb->fOutxCtsFlow = (tio.c_cflag & CRTSCTS) ? 1 : 0;
    if (tio.c_cflag & CRTSCTS) dcb->fRtsControl = RTS_CONTROL_HANDSHAKE;
    dcb->fOutX = (tio.c_iflag & IXON) ? 1 : 0;
    dcb->fInX = (tio.c_iflag & IXOFF) ? 1 : 0;
    dcb->XonChar = static_cast<char>(tio.c_cc[VSTART]);
    dcb->XoffChar = static_cast<char>(tio.c_cc[VSTOP]);
}

ModemLineChange ModemLinesForDcb(const DCB& dcb) {
    ModemLineChange change;
    // Without hardware DTR handshaking on Linux, DTR_CONTROL_HANDSHAKE keeps
    // the line up so that the printer sees a ready host.
    (dcb.fDtrControl == DTR_CONTROL_DISABLE ? change.lower : change.raise) |= TIOCM_DTR;
    switch (dcb.fRtsControl) {
        case RTS_CONTROL_ENABLE:
        case RTS_CONTROL_HANDSHAKE: change.raise |= TIOCM_RTS; break;
        default: change.lower |= TIOCM_RTS; break;  // disabled, or toggled around writes
    }
    return change;
}

ReadPlan PlanRead(const COMMTIMEOUTS& cto, DWORD count) {
    ReadPlan plan;
    const bool intervalMax = cto.ReadIntervalTimeout == MAXDWORD;
    if (intervalMax && cto.ReadTotalTimeoutMultiplier == 0 && cto.ReadTotalTimeoutConstant == 0) {
        plan.immediate = true;
        return plan;
    }
    if (intervalMax && cto.ReadTotalTimeoutMultiplier == MAXDWORD && cto.ReadTotalTimeoutConstant != 0 &&
        cto.ReadTotalTimeoutConstant != MAXDWORD) {
        plan.returnOnAny = true;
        plan.totalMs = cto.ReadTotalTimeoutConstant;
        return plan;
    }
    if (cto.ReadTotalTimeoutMultiplier != 0 || cto.ReadTotalTimeoutConstant != 0)
        plan.totalMs = uint64_t{cto.ReadTotalTimeoutMultiplier} * count + cto.ReadTotalTimeoutConstant;
    // MAXDWORD outside the two special cases above is a wait without bound.
    if (cto.ReadIntervalTimeout != 0 && !intervalMax) plan.intervalMs = cto.ReadIntervalTimeout;
    return plan;
}

std::optional<uint64_t> PlanWrite(const COMMTIMEOUTS& cto, DWORD count) {
    if (cto.WriteTotalTimeoutMultiplier == 0 && cto.WriteTotalTimeoutConstant == 0) return std::nullopt;
    return uint64_t{cto.WriteTotalTimeoutMultiplier} * count + cto.WriteTotalTimeoutConstant;
}

}  // namespace platform::serial
