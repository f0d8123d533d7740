// A small .NET host: sets both axes up, moves axis 1, waits for it and reads
// its position back.
// Build: mcs Example.cs Orvexportio.cs (or add both files to a project).
using System;
using System.Globalization;
using Orvexportio;

public static class Example
{
    public static int Main()
    {
        if (Controller.OK() != 1)
        {
            Console.Error.WriteLine("no controller answered at 0x340");
            return 1;
        }
        Console.WriteLine("RT(0) -> {0}", Controller.RT(Controller.BothAxes));
        Console.WriteLine("SV(1, 25) -> {0}", Controller.SV(Controller.Axis1, 25.0f));
        Console.WriteLine("MA(1, 2.5) -> {0}", Controller.MA(Controller.Axis1, 2.5f));
        Console.WriteLine("WS(1) -> {0}", Controller.WS(Controller.Axis1));
        float position = Controller.TP(Controller.Axis1);
        if (position == Controller.PositionError)
        {
            Console.Error.WriteLine("TP(1) failed");
            return 1;
        }
        Console.WriteLine("TP(1) -> {0}", position.ToString(CultureInfo.InvariantCulture));
        return 0;
    }
}
