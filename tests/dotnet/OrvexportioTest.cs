// The C# declarations of bindings/dotnet against the virtual controller: each
// call's result and the exact lines the controller received. Run with Mono,
// whose .exe.config maps both library names onto liborvexportio-sim.so.
// Exits 0 when every case passed.
using System;
using System.Linq;
using Orvexportio;

public static class OrvexportioTest
{
    static int failures;

    static void Check(bool passed, string what)
    {
        Console.WriteLine("[{0}] {1}", passed ? "  OK  " : "FAILED", what);
        if (!passed) ++failures;
    }

    static string Shown(string[] lines)
    {
        return "{" + string.Join(", ", lines.Select(l => "\"" + l.Replace("\r", "\\r") + "\"")) + "}";
    }

    // Runs `call` against a controller fresh from its reset and compares its
    // result and the lines the controller received.
    static void Expect(string call, Func<double> run, double result, params string[] lines)
    {
        VirtualController.orvexsim_reset();
        double got = run();
        string[] received = VirtualController.Lines();
        Check(got == result, string.Format("{0} returns {1} (got {2})", call, result, got));
        Check(received.SequenceEqual(lines),
              string.Format("{0} sends {1} (got {2})", call, Shown(lines), Shown(received)));
    }

    // Whether `run` throws an exception of type T whose message holds `named`.
    static bool Throws<T>(Action run, string named) where T : Exception
    {
        try
        {
            run();
        }
        catch (T thrown)
        {
            return thrown.Message.Contains(named);
        }
        return false;
    }

    // A card at another base, through the card API: its lines reach that card
    // alone; a base over a standard PC device is refused, naming it.
    static void SecondCard()
    {
        const uint second = 0x300;
        VirtualController.orvexsim_reset();
        Check(VirtualController.orvexsim_add_card(second) == 1, "a virtual card is put at 0x300");
        VirtualController.orvexsim_card_reset(second);
        using (var card = new Card(second))
        {
            card.MoveTo(1, 2.5f);
            Check(card.Position(2) == 0.0f && card.IsAtRest(2), "the card at 0x300 answers");
        }
        string[] lines = VirtualController.Lines(second);
        Check(lines.SequenceEqual(new[] { "1PA 250\r", "2TP\r", "TS\r" }),
              "the card at 0x300 received " + Shown(lines));
        Check(VirtualController.Lines().Length == 0, "the first card received nothing");
        Check(Throws<ArgumentException>(() => new Card(0x3F8), "the first serial port (COM1)"),
              "new Card(0x3F8) is refused, naming the first serial port");
        Check(Throws<TimeoutException>(() => new Card(0x310).Stop(1), "did not answer"),
              "a card where the bus has none times out");
        Check(Throws<ArgumentException>(() => new Card(second).MoveTo(1, float.NaN), "nothing was sent"),
              "a value that is not finite is refused");
        var closed = new Card(second);
        closed.Dispose();
        Check(Throws<ObjectDisposedException>(() => closed.Stop(1), "Card"),
              "a disposed card is not used");
        Check(VirtualController.Lines(second).Length == 3, "nothing more reached the card at 0x300");
    }

    public static int Main()
    {
        Expect("MA(0, 2.5)", () => Controller.MA(0, 2.5f), 1, "1PA 250\r", "2PA 250\r");
        Expect("MA(1, -0.75)", () => Controller.MA(1, -0.75f), 1, "1PA -75\r");
        Expect("MR(2, 12)", () => Controller.MR(2, 12.0f), 1, "2PR 1200\r");
        Expect("SV(0, -1)", () => Controller.SV(0, -1.0f), 1, "1VA4294967196\r", "2VA4294967196\r");
        Expect("ST(0)", () => Controller.ST(0), 1, "1ST\r", "2ST\r");
        Expect("DH(2)", () => Controller.DH(2), 1, "2DH\r");
        Expect("GH(1)", () => Controller.GH(1), 1, "1PA 0\r");
        Expect("TP(2)", () => Controller.TP(2), 0.0, "2TP\r");
        Expect("OK()", () => Controller.OK(), 1, "1TP\r");
        Expect("MT(0)", () => Controller.MT(0), 1, "TS\r");
        Expect("WS(2)", () => Controller.WS(2), 1, "TS\r");
        Expect("RT(2)", () => Controller.RT(2), 1, "2FI11\r", "2VA1000;AC50000\r", "2FM3\r", "2DH\r");
        // Axis codes the functions do not serve: nothing is sent.
        Expect("MA(3, 1)", () => Controller.MA(3, 1.0f), 3);
        Expect("ST(-1)", () => Controller.ST(-1), -1);
        Expect("WS(5)", () => Controller.WS(5), 5);
        Expect("TP(0)", () => Controller.TP(0), Controller.PositionError);
        Expect("TP(-128)", () => Controller.TP(sbyte.MinValue), Controller.PositionError);

        // A position read back after a move and a wait.
        VirtualController.orvexsim_reset();
        Controller.SV(1, 100.0f);
        Controller.MA(1, 0.5f);
        Check(Controller.WS(1) == 1, "WS(1) after MA(1, 0.5)");
        Check(Controller.TP(1) == 0.5f, "TP(1) after the move reads 0.5");
        int count = VirtualController.orvexsim_line_count();
        Check(VirtualController.Line(count - 1) == "1TP\r", "the last line is \"1TP\\r\"");
        Check(VirtualController.Line(count) == null && VirtualController.Line(-1) == null,
              "no line past the last or before the first");

        SecondCard();

        Console.WriteLine("{0} failed", failures);
        return failures == 0 ? 0 : 1;
    }
}
