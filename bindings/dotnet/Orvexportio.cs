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
using System;
using System.Runtime.InteropServices;
using System.Text;

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

    // What the virtual controller received; only the build with the virtual
    // controller (orvexportio-sim.dll, liborvexportio-sim.so) has these. They
    // are declared under the name "orvexportio-sim", which a host maps to the
    // same file as "orvexportio" when it runs against the virtual controller.
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

        // Received line `index` (0 the oldest), carriage return included, or
        // null when there is no such line.
        public static string Line(int index)
        {
            var text = new byte[256];
            double receivedAt;
            int length = orvexsim_line(index, text, text.Length, out receivedAt);
            if (length < 0) return null;
            return Encoding.ASCII.GetString(text, 0, Math.Min(length, text.Length - 1));
        }

        // Every line received since the reset.
        public static string[] Lines()
        {
            var lines = new string[orvexsim_line_count()];
            for (int index = 0; index < lines.Length; ++index) lines[index] = Line(index);
            return lines;
        }
    }
}
