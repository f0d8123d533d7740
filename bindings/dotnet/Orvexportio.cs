// The orvexportio functions for .NET hosts (C# 7, .NET Framework, Mono and
// .NET alike).
//
// The declarations name the library "orvexportio"; the runtime resolves that
// name per platform: orvexportio.dll on Windows, from the folder of the
// program or the PATH (take the DLL of the process's bitness: an x86 program
// needs the 32-bit DLL, an x64 or AnyCPU program on 64-bit Windows the
// 64-bit one), liborvexportio.so on Linux. With Mono a <dllmap> in the
// program's .exe.config points the name at another file, for instance at
// liborvexportio-sim.so, the build with a virtual controller behind the
// ports.
//
// All functions use the C calling convention. The axis code is a signed
// 8-bit integer (1, 2, or 0 for both axes), values are in caller units, and
// the int results are 1 for delivered (or yes) and 0 for a time-out (or no).
// include/orvexportio.h documents every function.
//
// Controller is the library's eleven functions, on the card at 0x340 (or
// where ORVEXPORTIO_BASE puts it). Card is any card, opened by its base
// through the library's card API, for a host with a second card or one
// strapped to another base:
//
//     using (var second = new Card(0x300))
//     {
//         second.MoveTo(1, 2.5f);
//         second.WaitUntilAtRest(1);
//     }
//
// Its methods throw instead of returning codes: TimeoutException when the
// controller does not answer in time, ArgumentException for a base, axis
// code or value the library refuses (nothing is sent then), CardException
// for the rest.
using System;
using System.Runtime.InteropServices;
using System.Text;
using Microsoft.Win32.SafeHandles;

namespace Orvexportio
{
    public static class Controller
    {
        public const string Library = "orvexportio";

        // TP's result when no position could be read.
        public const float PositionError = 1e10f;

        public const sbyte BothAxes = 0;
        public const sbyte Axis1 = 1;
        public const sbyte Axis2 = 2;

        // Move to an absolute target.
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int MA(sbyte axis, float target);

        // Move by a relative distance.
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int MR(sbyte axis, float distance);

        // Set the speed.
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int SV(sbyte axis, float speed);

        // Stop.
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int ST(sbyte axis);

        // Define the present position as home.
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int DH(sbyte axis);

        // Go home: MA(axis, 0).
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int GH(sbyte axis);

        // The position of axis 1 or 2, or PositionError.
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern float TP(sbyte axis);

        // 1 when the controller answers the axis-1 position query.
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int OK();

        // 1 when the addressed axes are at rest.
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int MT(sbyte axis);

        // Waits until the addressed axes are at rest; 0 after a second of silence.
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int WS(sbyte axis);

        // The set-up sequence after power-up.
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int RT(sbyte axis);
    }

    // A card opened by its base, the port its switches select (the handshake
    // register follows it), through the card API: orvex_open ... orvex_rt.
    // Several Card objects may drive several cards, or one card, at once,
    // from any threads; Dispose gives the handle back (another Card on the
    // same base keeps working). Axis codes are 0 (both axes), 1 or 2; values
    // are in caller units, sent times 100 as the library truncates them.
    public sealed class Card : IDisposable
    {
        public const string Library = Controller.Library;

        // What the card API's functions return (ORVEX_SUCCESS, ORVEX_ERROR_...).
        public const int Success = 0;
        public const int ErrorTimeout = -1;
        public const int ErrorAxis = -2;
        public const int ErrorValue = -3;
        public const int ErrorBaseRange = -4;
        public const int ErrorBaseDevice = -5;
        public const int ErrorNotShared = -10;

        readonly CardHandle handle;

        // Opens the card at `baseAddress`. ArgumentException when no card may
        // sit there, naming the standard PC device its registers would hit
        // ("the first serial port (COM1)" for 0x3F8). Opening touches no port.
        public Card(uint baseAddress)
        {
            string conflict = BaseConflict(baseAddress);
            if (conflict != null)
                throw new ArgumentException(RefusedBase(baseAddress, conflict), "baseAddress");
            int error;
            handle = orvex_open(baseAddress, out error);
            if (handle.IsInvalid)
                throw new CardException(error, string.Format("the card at 0x{0:X}: {1}",
                                                             baseAddress, Message(error)));
            BaseAddress = baseAddress;
        }

        public uint BaseAddress { get; private set; }

        // What a card at `baseAddress` would hit (a standard PC device, or
        // leaving the ports left to add-in cards), or null when one may sit there.
        public static string BaseConflict(uint baseAddress)
        {
            IntPtr text = orvex_base_conflict(baseAddress);
            return text == IntPtr.Zero ? null : Marshal.PtrToStringAnsi(text);
        }

        // The library's sentence for an error code.
        public static string Message(int error)
        {
            return Marshal.PtrToStringAnsi(orvex_error_message(error));
        }

        public void MoveTo(int axis, float target) { Check(orvex_ma(Open(), axis, target)); }
        public void MoveBy(int axis, float distance) { Check(orvex_mr(Open(), axis, distance)); }
        public void SetSpeed(int axis, float speed) { Check(orvex_sv(Open(), axis, speed)); }
        public void Stop(int axis) { Check(orvex_st(Open(), axis)); }
        public void DefineHome(int axis) { Check(orvex_dh(Open(), axis)); }
        public void GoHome(int axis) { Check(orvex_gh(Open(), axis)); }
        // Waits until the addressed axes are at rest; TimeoutException after a
        // second in which the controller did not answer.
        public void WaitUntilAtRest(int axis) { Check(orvex_ws(Open(), axis)); }
        // The set-up sequence after power-up (RT).
        public void SetUp(int axis) { Check(orvex_rt(Open(), axis)); }

        // The position of axis 1 or 2, in caller units.
        public float Position(int axis)
        {
            float position;
            Check(orvex_tp(Open(), axis, out position));
            return position;
        }

        // Whether a controller answers the axis-1 position query.
        public bool Answers()
        {
            return orvex_ok(Open()) == Success;
        }

        // Whether the addressed axes are at rest.
        public bool IsAtRest(int axis)
        {
            int atRest;
            Check(orvex_mt(Open(), axis, out atRest));
            return atRest == 1;
        }

        // Who holds the card: the process on this machine in the middle of an
        // exchange with it, or null. CardException (ErrorNotShared) when the
        // processes on this card are not kept apart.
        public CardHolder Holder()
        {
            var found = new HolderRecord();
            Check(orvex_card_holder(Open(), ref found));
            if (found.process == 0) return null;
            return new CardHolder(found.process, Text(found.program), found.seconds, Text(found.line));
        }

        public void Dispose()
        {
            handle.Dispose();
        }

        CardHandle Open()
        {
            if (handle.IsClosed) throw new ObjectDisposedException("Card");
            return handle;
        }

        static string RefusedBase(uint baseAddress, string conflict)
        {
            string why = conflict.StartsWith("outside", StringComparison.Ordinal)
                ? conflict : "the card's registers would overlap " + conflict;
            return string.Format("base 0x{0:X} is refused: {1}", baseAddress, why);
        }

        static void Check(int error)
        {
            if (error == Success) return;
            if (error == ErrorTimeout) throw new TimeoutException(Message(error));
            if (error == ErrorAxis || error == ErrorValue) throw new ArgumentException(Message(error));
            throw new CardException(error, Message(error));
        }

        static string Text(byte[] text)
        {
            int length = Array.IndexOf(text, (byte)0);
            return Encoding.ASCII.GetString(text, 0, length < 0 ? text.Length : length);
        }

        // orvex_holder as orvexportio.h lays it out.
        [StructLayout(LayoutKind.Sequential)]
        struct HolderRecord
        {
            public int process;
            [MarshalAs(UnmanagedType.ByValArray, SizeConst = 16)] public byte[] program;
            public double seconds;
            [MarshalAs(UnmanagedType.ByValArray, SizeConst = 80)] public byte[] line;
        }

        // The handle orvex_open gives, given back with orvex_close.
        sealed class CardHandle : SafeHandleZeroOrMinusOneIsInvalid
        {
            CardHandle() : base(true) { }

            protected override bool ReleaseHandle()
            {
                orvex_close(handle);
                return true;
            }
        }

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        static extern IntPtr orvex_error_message(int error);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        static extern IntPtr orvex_base_conflict(uint baseAddress);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        static extern CardHandle orvex_open(uint baseAddress, out int error);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        static extern void orvex_close(IntPtr card);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        static extern int orvex_ma(CardHandle card, int axis, float target);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        static extern int orvex_mr(CardHandle card, int axis, float distance);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        static extern int orvex_sv(CardHandle card, int axis, float speed);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        static extern int orvex_st(CardHandle card, int axis);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        static extern int orvex_dh(CardHandle card, int axis);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        static extern int orvex_gh(CardHandle card, int axis);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        static extern int orvex_tp(CardHandle card, int axis, out float position);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        static extern int orvex_ok(CardHandle card);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        static extern int orvex_mt(CardHandle card, int axis, out int atRest);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        static extern int orvex_ws(CardHandle card, int axis);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        static extern int orvex_rt(CardHandle card, int axis);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        static extern int orvex_card_holder(CardHandle card, ref HolderRecord holder);
    }

    // Who holds a card: its process id, its program's name, for how long it
    // has held the card, in seconds, and the line in flight ("" when none).
    public sealed class CardHolder
    {
        public CardHolder(int process, string program, double seconds, string line)
        {
            Process = process;
            Program = program;
            Seconds = seconds;
            Line = line;
        }

        public int Process { get; private set; }
        public string Program { get; private set; }
        public double Seconds { get; private set; }
        public string Line { get; private set; }
    }

    // What the card API reports besides a time-out and a refused argument.
    public class CardException : Exception
    {
        public CardException(int error, string message) : base(message)
        {
            Error = error;
        }

        // The card API's error code (Card.ErrorNotShared ...).
        public int Error { get; private set; }
    }

    // What the virtual controller received; only the build with the virtual
    // controller (orvexportio-sim.dll, liborvexportio-sim.so) has these. They
    // are declared under the name "orvexportio-sim", which a host maps to the
    // same file as "orvexportio" when it runs against the virtual controller.
    // The first card's functions come with those for the card at a base
    // (orvexsim_card_...), which orvexsim_add_card puts on the bus.
    public static class VirtualController
    {
        public const string Library = "orvexportio-sim";

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern void orvexsim_reset();

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int orvexsim_line_count();

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int orvexsim_line(int index, [Out] byte[] text, int capacity,
                                                out double receivedAt);

        // 1 when a card is at `baseAddress` (put there now, or before).
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int orvexsim_add_card(uint baseAddress);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int orvexsim_card_reset(uint baseAddress);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int orvexsim_card_line_count(uint baseAddress);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int orvexsim_card_line(uint baseAddress, int index, [Out] byte[] text,
                                                     int capacity, out double receivedAt);

        // Received line `index` (0 the oldest), carriage return included, or
        // null when there is no such line.
        public static string Line(int index)
        {
            var text = new byte[256];
            double receivedAt;
            return Received(orvexsim_line(index, text, text.Length, out receivedAt), text);
        }

        // The same on the card at `baseAddress`.
        public static string Line(uint baseAddress, int index)
        {
            var text = new byte[256];
            double receivedAt;
            return Received(orvexsim_card_line(baseAddress, index, text, text.Length, out receivedAt),
                            text);
        }

        // Every line received since the reset.
        public static string[] Lines()
        {
            var lines = new string[orvexsim_line_count()];
            for (int index = 0; index < lines.Length; ++index) lines[index] = Line(index);
            return lines;
        }

        // Every line the card at `baseAddress` received since its reset.
        public static string[] Lines(uint baseAddress)
        {
            var lines = new string[Math.Max(0, orvexsim_card_line_count(baseAddress))];
            for (int index = 0; index < lines.Length; ++index) lines[index] = Line(baseAddress, index);
            return lines;
        }

        static string Received(int length, byte[] text)
        {
            if (length < 0) return null;
            return Encoding.ASCII.GetString(text, 0, Math.Min(length, text.Length - 1));
        }
    }
}
