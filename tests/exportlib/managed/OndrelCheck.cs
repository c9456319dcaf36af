// Calls every export of libondrel.so the way a managed application does,
// through P/Invoke with UTF-16 strings, and checks the results.
// Usage: mono OndrelCheck.exe <library dir> <bitmap file> <scratch dir>
// ($PRESSEL_REGISTRY names <scratch dir>/registry.reg; LD_LIBRARY_PATH the
// library dir.) Prints "N passed, M failed"; the exit code is 1 on failure.
using System;
using System.IO;
using System.Runtime.InteropServices;
using System.Text;

static class Native
{
    const string Lib = "ondrel";

    [StructLayout(LayoutKind.Sequential)]
    public struct COMMTIMEOUTS
    {
        public uint ReadIntervalTimeout, ReadTotalTimeoutMultiplier, ReadTotalTimeoutConstant,
            WriteTotalTimeoutMultiplier, WriteTotalTimeoutConstant;
    }

    [DllImport(Lib, CharSet = CharSet.Unicode)]
    public static extern IntPtr CreateFile_Interop(string name, uint access, uint share, IntPtr security,
        uint disposition, uint flags, IntPtr template);
    [DllImport(Lib)]
    public static extern int ReadFile_Interop(IntPtr h, byte[] buffer, uint count, out uint done, IntPtr overlapped);
    [DllImport(Lib)]
    public static extern int WriteFile_Interop(IntPtr h, byte[] buffer, uint count, out uint done, IntPtr overlapped);
    [DllImport(Lib)]
    public static extern int CloseHandle_Interop(IntPtr h);
    [DllImport(Lib)]
    public static extern int DeviceIoControl_Interop(IntPtr h, uint code, IntPtr input, uint inputSize,
        IntPtr output, uint outputSize, out uint returned, IntPtr overlapped);
    [DllImport(Lib, CharSet = CharSet.Unicode)]
    public static extern IntPtr RegisterDevice_Interop(string prefix, uint index, string library, IntPtr context);
    [DllImport(Lib)]
    public static extern int DeregisterDevice_Interop(IntPtr device);
    // The DCB is 28 bytes: length, baud rate, flag bits, then bytes.
    [DllImport(Lib)]
    public static extern int GetCommState_Interop(IntPtr h, byte[] dcb);
    [DllImport(Lib)]
    public static extern int SetCommState_Interop(IntPtr h, byte[] dcb);
    [DllImport(Lib)]
    public static extern int GetCommTimeouts_Interop(IntPtr h, out COMMTIMEOUTS timeouts);
    [DllImport(Lib)]
    public static extern int SetCommTimeouts_Interop(IntPtr h, ref COMMTIMEOUTS timeouts);
    [DllImport(Lib)]
    public static extern int EscapeCommFunction_Interop(IntPtr h, uint function);
    [DllImport(Lib, CharSet = CharSet.Unicode)]
    public static extern int GetRegString(string key, byte[] buffer, ref int size);
    [DllImport(Lib)]
    public static extern int OndrelGetId(byte[] buffer, int size);
    [DllImport(Lib)]
    public static extern int IROpen();
    [DllImport(Lib)]
    public static extern int IRWrite(byte[] bytes, int count);
    [DllImport(Lib)]
    public static extern int IRClose();
    [DllImport(Lib)]
    public static extern int KtsbCancel(IntPtr device);
    [DllImport(Lib)]
    public static extern int KtsbDevIOCBind(IntPtr device);
    [DllImport(Lib, CharSet = CharSet.Unicode)]
    public static extern int BMPComputeSize(int heightDots, int widthDots, int lineDots, string file, int layout,
        int rotation, int offsetDots);
    [DllImport(Lib)]
    public static extern int BMPGetBits(byte[] buffer);
    [DllImport(Lib)]
    public static extern int BMPDelete();

    // The platform's last error (not errno, which SetLastError=true reads).
    [DllImport("pressel-platform")]
    public static extern uint GetLastError();

    [DllImport("libc", SetLastError = true)]
    public static extern int openpty(out int master, out int slave, IntPtr name, IntPtr termios, IntPtr winsize);
    [DllImport("libc")]
    public static extern IntPtr ttyname(int fd);
    [DllImport("libc")]
    public static extern long read(int fd, byte[] buffer, long count);
    [DllImport("libc")]
    public static extern int close(int fd);
}

static class OndrelCheck
{
    const uint GENERIC_READ = 0x80000000, GENERIC_WRITE = 0x40000000;
    const uint CREATE_ALWAYS = 2, OPEN_EXISTING = 3, OPEN_ALWAYS = 4;
    static readonly IntPtr INVALID_HANDLE_VALUE = new IntPtr(-1);
    static int passed, failed;

    static void Check(bool ok, string what)
    {
        if (ok) { passed++; return; }
        failed++;
        Console.WriteLine("FAILED: " + what);
    }

    static void Expect(long actual, long expected, string what)
    {
        Check(actual == expected, what + ": got " + actual + ", expected " + expected);
    }

    static int Main(string[] args)
    {
        if (args.Length != 3) { Console.WriteLine("usage: OndrelCheck <lib dir> <bitmap> <scratch dir>"); return 2; }
        string libDir = args[0], bitmap = args[1], scratch = args[2];
        Directory.CreateDirectory(scratch);
        Directory.CreateDirectory(Path.Combine(scratch, "air"));

        int master, slave;
        Expect(Native.openpty(out master, out slave, IntPtr.Zero, IntPtr.Zero, IntPtr.Zero), 0, "openpty");
        string pty = Marshal.PtrToStringAnsi(Native.ttyname(slave));
        WriteRegistry(Environment.GetEnvironmentVariable("PRESSEL_REGISTRY"), pty, Path.Combine(scratch, "air"));

        Identification();
        Registry();
        Files(Path.Combine(scratch, "out.bin"));
        Serial(master);
        Ktsb(Path.Combine(libDir, "libondrel_ktsb_test_driver.so"));
        Infrared();
        Bitmaps(bitmap);

        Native.close(master);
        Native.close(slave);
        Console.WriteLine(passed + " passed, " + failed + " failed");
        return failed == 0 ? 0 : 1;
    }

    static void WriteRegistry(string path, string pty, string air)
    {
        File.WriteAllText(path,
            "Windows Registry Editor Version 5.00\r\n\r\n" +
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quendrix\\Farlink]\r\n\"FLPort\"=\"COM3:\"\r\n\r\n" +
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Numeric]\r\n\"FLPort\"=dword:00000003\r\n\r\n" +
            "[HKEY_LOCAL_MACHINE\\System\\DosDevices]\r\n\"COM7:\"=\"" + pty + "\"\r\n\r\n" +
            "[HKEY_LOCAL_MACHINE\\Comm\\IrDA]\r\n\"EmulationDir\"=\"" + air + "\"\r\n\"KernelIrDA\"=dword:00000000\r\n");
    }

    static void Identification()
    {
        int length = Native.OndrelGetId(null, 0);
        Check(length > 0, "OndrelGetId length");
        byte[] shortBuffer = new byte[length];
        Expect(Native.OndrelGetId(shortBuffer, length - 1), -1, "OndrelGetId short buffer");
        Expect(shortBuffer[0], 0, "OndrelGetId writes nothing into a short buffer");
        byte[] buffer = new byte[length + 1];
        buffer[length] = 0xAA;
        Expect(Native.OndrelGetId(buffer, length), length, "OndrelGetId exact buffer");
        Expect(buffer[length], 0xAA, "OndrelGetId leaves the byte past its size");
        string id = Encoding.ASCII.GetString(buffer, 0, length);
        Check(id.StartsWith("<Ondrel.dll CopyrightYear=\"") && id.EndsWith("\" /> </Ondrel.dll>") &&
              id.Contains("Version=\"1.07\"> <OndrelLib.lib                CopyrightYear=\""), "identification: " + id);
    }

    static void Registry()
    {
        byte[] buffer = new byte[64];
        int size = buffer.Length;
        Expect(Native.GetRegString("SOFTWARE\\Quendrix\\Farlink", buffer, ref size), 12, "GetRegString string");
        Expect(size, 12, "GetRegString size");
        Check(Encoding.Unicode.GetString(buffer, 0, 10) == "COM3:", "GetRegString text");
        size = 4;
        Expect(Native.GetRegString("SOFTWARE\\Quendrix\\Farlink", buffer, ref size), -1, "GetRegString small buffer");
        Expect(size, -1, "GetRegString small buffer size");
        size = buffer.Length;
        Expect(Native.GetRegString("SOFTWARE\\Numeric", buffer, ref size), -2, "GetRegString REG_DWORD");
        size = buffer.Length;
        Expect(Native.GetRegString("SOFTWARE\\Missing", buffer, ref size), -3, "GetRegString missing key");
        Expect(size, -3, "GetRegString missing key size");
    }

    static void Files(string path)
    {
        IntPtr h = Native.CreateFile_Interop(path, GENERIC_WRITE, 0, IntPtr.Zero, CREATE_ALWAYS, 0, IntPtr.Zero);
        Check(h != INVALID_HANDLE_VALUE, "CreateFile_Interop for writing");
        byte[] data = Encoding.ASCII.GetBytes("\u001b@Line\r\n");
        uint done;
        Expect(Native.WriteFile_Interop(h, data, (uint)data.Length, out done, IntPtr.Zero), 1, "WriteFile_Interop");
        Expect(done, data.Length, "WriteFile_Interop count");
        Expect(Native.CloseHandle_Interop(h), 1, "CloseHandle_Interop");
        h = Native.CreateFile_Interop(path, GENERIC_READ, 0, IntPtr.Zero, OPEN_EXISTING, 0, IntPtr.Zero);
        byte[] back = new byte[32];
        Expect(Native.ReadFile_Interop(h, back, (uint)back.Length, out done, IntPtr.Zero), 1, "ReadFile_Interop");
        Expect(done, data.Length, "ReadFile_Interop count");
        Check(Encoding.ASCII.GetString(back, 0, (int)done) == "\u001b@Line\r\n", "ReadFile_Interop bytes");
        Native.CloseHandle_Interop(h);
        Expect(Native.CloseHandle_Interop(h), 0, "CloseHandle_Interop twice");
        Expect(Native.GetLastError(), 6, "last error ERROR_INVALID_HANDLE");
        h = Native.CreateFile_Interop(path + ".missing", GENERIC_READ, 0, IntPtr.Zero, OPEN_EXISTING, 0, IntPtr.Zero);
        Check(h == INVALID_HANDLE_VALUE, "CreateFile_Interop on a missing file");
        Expect(Native.GetLastError(), 2, "last error ERROR_FILE_NOT_FOUND");
    }

    static void Serial(int master)
    {
        IntPtr h = Native.CreateFile_Interop("COM7:", GENERIC_READ | GENERIC_WRITE, 0, IntPtr.Zero, OPEN_EXISTING, 0,
            IntPtr.Zero);
        Check(h != INVALID_HANDLE_VALUE, "CreateFile_Interop COM7:");
        byte[] dcb = new byte[28];
        BitConverter.GetBytes(28).CopyTo(dcb, 0);
        Expect(Native.GetCommState_Interop(h, dcb), 1, "GetCommState_Interop");
        BitConverter.GetBytes(9600).CopyTo(dcb, 4);
        dcb[18] = 8;  // ByteSize
        Expect(Native.SetCommState_Interop(h, dcb), 1, "SetCommState_Interop");
        byte[] back = new byte[28];
        BitConverter.GetBytes(28).CopyTo(back, 0);
        Native.GetCommState_Interop(h, back);
        Expect(BitConverter.ToInt32(back, 4), 9600, "baud rate read back");
        var timeouts = new Native.COMMTIMEOUTS { ReadIntervalTimeout = 250, WriteTotalTimeoutConstant = 15000 };
        Expect(Native.SetCommTimeouts_Interop(h, ref timeouts), 1, "SetCommTimeouts_Interop");
        Native.COMMTIMEOUTS read;
        Expect(Native.GetCommTimeouts_Interop(h, out read), 1, "GetCommTimeouts_Interop");
        Expect(read.WriteTotalTimeoutConstant, 15000, "timeouts read back");
        Expect(Native.EscapeCommFunction_Interop(h, 5), 1, "EscapeCommFunction_Interop SETDTR");
        uint done;
        byte[] data = Encoding.ASCII.GetBytes("PRINT");
        Expect(Native.WriteFile_Interop(h, data, 5, out done, IntPtr.Zero), 1, "WriteFile_Interop on the port");
        byte[] got = new byte[16];
        Expect(Native.read(master, got, got.Length), 5, "bytes at the other end of the line");
        Native.CloseHandle_Interop(h);
    }

    static void Ktsb(string driver)
    {
        IntPtr device = Native.RegisterDevice_Interop("KTB", 5, driver, new IntPtr(1));
        Check(device != IntPtr.Zero, "RegisterDevice_Interop");
        IntPtr h = Native.CreateFile_Interop("KTB5:", GENERIC_READ | GENERIC_WRITE, 0, IntPtr.Zero, OPEN_ALWAYS, 0,
            IntPtr.Zero);
        Check(h != INVALID_HANDLE_VALUE, "CreateFile_Interop KTB5:");
        Expect(Native.KtsbDevIOCBind(h), 1, "KtsbDevIOCBind");
        Expect(Native.KtsbCancel(h), 1, "KtsbCancel");
        uint returned;
        Expect(Native.DeviceIoControl_Interop(h, 0x1B1000, IntPtr.Zero, 0, IntPtr.Zero, 0, out returned, IntPtr.Zero),
            1, "DeviceIoControl_Interop");
        Native.CloseHandle_Interop(h);
        Expect(Native.DeregisterDevice_Interop(device), 1, "DeregisterDevice_Interop");
    }

    static void Infrared()
    {
        var start = DateTime.UtcNow;
        Expect(Native.IROpen(), -1, "IROpen with no device in range");
        Check((DateTime.UtcNow - start).TotalMilliseconds >= 1000, "IROpen tries for a second");
        Expect(Native.IRClose(), 1, "IRClose");
        Expect(Native.IRWrite(new byte[] { 65 }, 1), -1, "IRWrite without a connection");
        Expect(Native.GetLastError(), 10038, "last error WSAENOTSOCK");
        Expect(Native.IRClose(), 1, "IRClose twice");
    }

    static void Bitmaps(string file)
    {
        byte[] buffer = new byte[4096];
        Expect(Native.BMPGetBits(buffer), -1, "BMPGetBits with nothing held");
        Expect(Native.BMPComputeSize(48, 384, 384, file, 1, 0, 0), 3072, "BMPComputeSize bands");
        Expect(Native.BMPGetBits(buffer), 3072, "BMPGetBits");
        Expect(Native.BMPGetBits(buffer), -1, "BMPGetBits twice");
        Expect(Native.BMPComputeSize(48, 384, 384, file, 2, 0, 0), 2304, "BMPComputeSize raster rows");
        Expect(Native.BMPDelete(), 2304, "BMPDelete");
        Expect(Native.BMPDelete(), -1, "BMPDelete twice");
        Expect(Native.BMPComputeSize(48, 384, 384, file + ".missing", 1, 0, 0), -1, "BMPComputeSize missing file");
    }
}
