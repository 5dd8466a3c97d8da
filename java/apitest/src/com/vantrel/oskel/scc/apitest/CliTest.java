package com.vantrel.oskel.scc.apitest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.regex.Pattern;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

/**
 * The scc tool, run as a process from its jar (with -Xcheck:jni) against the test provider:
 * output, exit codes and errors without stack traces.
 */
@Tag("cli")
class CliTest {
    private Path folder;

    @BeforeEach
    void setUp() {
        folder = TestEnvironment.testProviderFolder("cli");
    }

    private TestEnvironment.Run scc(String input, String... args) {
        List<String> command = new ArrayList<>(
                TestEnvironment.javaCommand("-jar", TestEnvironment.sccJar().toString()));
        command.addAll(Arrays.asList(args));
        Map<String, String> environment = new HashMap<>();
        for (String name : List.of("SCC_PROVIDER", "SCC_PROJECT", "SCC_USER", "SCC_AUX_PATH",
                "SCC_DEBUG")) {
            environment.put(name, null);
        }
        return TestEnvironment.run(command, environment, folder, input).clean();
    }

    private static String[] words(String line) {
        return line.isEmpty() ? new String[0] : line.split(" ");
    }

    /**
     * Rows: arguments (space-separated), test provider script (lines separated by ';'), exit code,
     * a pattern the whole output must contain (stdout, then stderr).
     */
    @ParameterizedTest(name = "scc {0} [{1}] -> {2}")
    @CsvSource(delimiter = '|', value = {
        "--help | '' | 0 | (?s)Usage: scc .*checkout.*populate.*session.*Exit codes:.*3\\s+the provider reported an error",
        "help checkout | '' | 0 | (?s)(?=.*--comment=TEXT)(?=.*--provider=NAME)(?=.*--trace=FILE)(?=.*--project=NAME)",
        "--version | version 0x00010002 | 0 | scc \\d+\\.\\d+\\.\\d+.*\\nnative library: /\\S+\\nplatform: linux-x86_64\\n--- stderr\\n\\z",
        "checkout --help | '' | 0 | (?s)\\AUsage: scc checkout (?=.*--comment=TEXT)(?=.*--create)(?=.*--json)",
        "providers --help | '' | 0 | \\AUsage: scc providers",
        "history -h | '' | 0 | \\AUsage: scc history",
        "providers | '' | 0 | PROVIDER +KEY\\nApi Test Provider +Software\\\\Vantrel\\\\ApiTestProvider",
        "info | init.caps 0x2000005 | 0 | (?s)provider: +Test Provider.*SCC API: +1\\.2.*SCC_CAP_REMOVE.*SCC_CAP_DIFF.*SCC_CAP_POPULATELIST",
        "info --provider Nope | '' | 4 | no source-control provider named \"Nope\" is installed; installed: Api Test Provider",
        "info --key Software\\Missing | '' | 5 | scc: could not connect to the provider with key Software\\\\Missing: the registry has no provider key by that name; registry /\\S+registry.reg \\(ok\\)",
        "info | return SccInitialize -1 | 5 | SccInitialize failed with SCC_E_INITIALIZEFAILED \\(-1\\)",
        "checkout -p demo a.txt | '' | 0 | \\A--- stderr\\n\\z",
        "checkout -v -p demo -m why a.txt | '' | 0 | (?s)-- connected to Test Provider.*-- opened project demo in .* as .*checkout: SCC_OK.*-- closed project demo.*-- disconnected",
        "checkout -p demo a.txt | return SccCheckout -5;message SccCheckout 3 a.txt is out to pat | 3 | \\A--- stderr\\nscc: checkout: SCC_E_ALREADYCHECKEDOUT \\(-5\\): a.txt is out to pat\\n\\z",
        "checkout -p demo a.txt | message SccCheckout 1 checked out a.txt | 0 | \\A--- stderr\\nchecked out a.txt\\n\\z",
        "-v checkout -p demo a.txt | '' | 0 | (?s)-- connected to Test Provider.*checkout: SCC_OK",
        "status -p demo a.txt | return SccOpenProject -2;message SccOpenProject 3 no such project | 3 | scc: open project: SCC_E_UNKNOWNPROJECT \\(-2\\): no such project",
        "diff -p demo a.txt | return SccDiff 6;message SccDiff 5 -old;message SccDiff 5 +new | 1 | (?s)-old\\n\\+new\\ndiff: SCC_I_FILEDIFFERS",
        "history -q -p demo a.txt | message SccHistory 1 info line;message SccHistory 2 careful | 0 | \\Ainfo line\\n--- stderr\\nwarning: careful\\n\\z",
        "status --porcelain -p demo a.txt b.txt c.txt | status 0 0x3;status 1 0;status 2 -1 | 0 | \\Aa.txt\\t0x00000003\\tcontrolled,checkedout\\nb.txt\\t0x00000000\\t-\\nc.txt\\t0xffffffff\\tinvalid\\n--- stderr\\n\\z",
        "--porcelain providers | '' | 0 | \\AApi Test Provider\\tSoftware\\\\Vantrel\\\\ApiTestProvider\\n--- stderr\\n\\z",
        "status -p demo a.txt b.txt c.txt | status 0 0x3;status 1 0;status 2 -1 | 0 | FILE +STATUS +WORD\\na.txt +controlled, checkedout +0x0003\\nb.txt +not controlled +0x0000\\nc.txt +invalid +0xffffffff\\n",
        "status -p demo a.txt | return SccQueryInfo -14 | 3 | scc: status: the provider does not support status queries",
        "info | init.checkoutcommentlen 0;init.commentlen 1024 | 0 | comments: +check-out none taken, check-in/add/remove 1024 bytes",
        "populate --for CheckIn -p demo a.txt b.txt | populate 1 a.txt;populate 0 b.txt | 0 | keep  a.txt\\ndrop  b.txt\\n",
        "populate --for checkin -p demo a.txt | return SccPopulateList -14 | 3 | scc: populate checkin: SCC_E_OPNOTSUPPORTED \\(-14\\)",
        "options --check diff | return SccGetCommandOptions 1 | 0 | diff: advanced options available",
        "options --check diff | '' | 1 | diff: no advanced options",
        "run -p demo a.txt | return SccRunScc 2 | 1 | run: SCC_I_OPERATIONCANCELED",
        "properties -p demo a.txt | return SccProperties 77 | 3 | scc: properties: SCC result 77 \\(77\\)",
        "checkout a.txt | '' | 2 | scc: no project given: use --project NAME",
        "checkout -p demo | '' | 2 | \\A--- stderr\\nscc: Missing required parameter: 'FILE'\\nusage: scc checkout \\[OPTIONS\\] FILE...\\nsee 'scc help checkout'\\n\\z",
        "frobnicate | '' | 2 | Unmatched argument at index 0: 'frobnicate'",
        "'' | '' | 2 | no command given",
        "info --trace-level 2 | '' | 2 | --trace-level needs --trace FILE",
        "info --provider a --key b | '' | 2 | give either --provider or --key, not both",
        "populate --for sideways -p demo a.txt | '' | 2 | Invalid value for option '--for'",
        "info --trace t.log --trace-level -1 | '' | 2 | --trace-level must be 0 or more, not -1",
        "generate-completion | '' | 0 | complete -F _complete_scc"})
    void commands(String args, String script, int exit, String expected) {
        expected = windowsRegistry(expected);
        TestEnvironment.script(script.split(";"));
        TestEnvironment.Run run = scc(null, words(args));
        String output = run.out() + "--- stderr\n" + run.err();
        assertEquals(exit, run.exit(), "exit code of scc " + args + "\n" + run.both());
        assertTrue(Pattern.compile(expected, Pattern.MULTILINE).matcher(output).find(),
                "output of scc " + args + " should match " + expected + "\n" + run.both());
    }

    @Test
    void withoutARegistryTheToolSaysWhereItLooked() {
        TestEnvironment.removeRegistry();
        TestEnvironment.Run run = scc(null, "providers");
        assertEquals(4, run.exit(), run.both());
        assertTrue(run.err().contains("registry: " + TestEnvironment.registryName()
                        + (TestEnvironment.windows() ? " (ok)" : " (missing)")),
                "the registry file and its state are named: " + run.both());
    }

    @Test
    void aHostThatDoesNotStartIsNamedWithTheReason() {
        TestEnvironment.write(TestEnvironment.registry(), TestEnvironment.registryText(
                Map.of("Hosted", TestEnvironment.provider("testprovider")), true));
        List<String> command = new ArrayList<>(
                TestEnvironment.javaCommand("-jar", TestEnvironment.sccJar().toString()));
        command.addAll(List.of("info", "--provider", "Hosted"));
        TestEnvironment.Run run = TestEnvironment.run(command,
                Map.of("OSKELSCCIH_HOST", "/no/such/host"), folder, null).clean();
        assertEquals(5, run.exit(), run.both());
        assertTrue(Pattern.compile(windowsRegistry("the provider host process did not start; registry \\S+ "
                        + "\\(ok\\); provider library \\S+testprovider\\S*; host program "
                        + "/no/such/host: cannot start /no/such/host: ")
                        + (TestEnvironment.windows() ? "" : "No such file"))
                        .matcher(run.err()).find(), run.both());
    }

    /** A pattern naming the registry file, for Windows naming its registry instead. */
    private static String windowsRegistry(String pattern) {
        return TestEnvironment.windows()
                ? pattern.replace("registry /\\S+registry.reg \\(ok\\)", "registry \\S+ \\(ok\\)")
                        .replace("registry \\S+ \\(ok\\)", "registry HKEY_LOCAL_MACHINE \\(the Windows registry\\) \\(ok\\)")
                : pattern;
    }

    @Test
    void aTraceLogIsWritten() {
        Path trace = folder.resolve("trace.log");
        TestEnvironment.Run run = scc(null, "checkout", "-p", "demo", "--trace", trace.toString(),
                "--trace-level", "4", "a.txt");
        assertEquals(0, run.exit(), run.both());
        String log = TestEnvironment.read(trace);
        assertTrue(log.contains("Setting tracing in " + trace + " level=4")
                        && log.contains("-->checking out")
                        && log.contains("On Files:" + folder.resolve("a.txt") + "\t"),
                "trace log:\n" + log);
    }

    @Test
    void aSessionRunsOnOneConnectionAndStopsAtAFailure() {
        TestEnvironment.script("return SccCheckin -9", "message SccCheckin 3 conflict");
        String input = String.join("\n",
                "# comment lines and blank lines are skipped",
                "",
                "checkout -m \"two words\" a.txt",
                "! echo from the shell > shell.txt",
                "status a.txt",
                "checkin a.txt",
                "history a.txt");
        TestEnvironment.Run run = scc(input, "session", "-p", "demo");
        assertEquals(3, run.exit(), run.both());
        assertTrue(Pattern.compile("(?s)-- connected to Test Provider.*scc> checkout -m \"two words\""
                        + " a.txt\n-- opened project demo.*checkout: SCC_OK\nscc> ! echo from the "
                        + "shell > shell.txt\nscc> status a.txt\nFILE.*scc> checkin a.txt\n"
                        + "-- closed project demo\n-- disconnected from Test Provider\n$")
                        .matcher(run.out()).find(), run.both());
        assertTrue(run.err().contains("scc: checkin: SCC_E_CHECKINCONFLICT (-9): conflict\n"
                        + "scc: session stopped at line 6 (exit 3)"), run.both());
        assertEquals(List.of(1, 1, 0),
                List.of(TestEnvironment.calls("SccInitialize").size(),
                        TestEnvironment.calls("SccOpenProject").size(),
                        TestEnvironment.calls("SccHistory").size()),
                "connections, project opens and history calls of the session");
        assertTrue(TestEnvironment.calls("SccCheckout").get(0).contains("comment=\"two words\""),
                TestEnvironment.calls("SccCheckout").toString());
        assertEquals("from the shell\n", TestEnvironment.read(folder.resolve("shell.txt")),
                "the shell line ran in the current folder");
    }

    @ParameterizedTest(name = "scc {0} opens with flags={1}")
    @CsvSource(delimiter = '|', value = {
        "status -p demo a.txt | 0", "diff -p demo a.txt | 0", "history -p demo a.txt | 0",
        "properties -p demo a.txt | 0", "add -p demo a.txt | 0", "add --create -p demo a.txt | 1",
        "init -p demo | 1", "checkout --create -p demo a.txt | 1"})
    void onlyInitAndCreateMayCreateTheProject(String args, int flags) {
        TestEnvironment.Run run = scc(null, words(args));
        assertEquals(0, run.exit(), run.both());
        String open = TestEnvironment.calls("SccOpenProject").get(0);
        assertTrue(open.endsWith(" flags=" + flags), open);
    }

    /** Rows: arguments, script, then fragments of the document as Python's json module prints it. */
    @ParameterizedTest(name = "scc --json {0}")
    @CsvSource(delimiter = '|', value = {
        "status -p demo a.txt b.txt | status 0 0x3;status 1 -1 | \"command\": \"status\" ; \"flags\": [\"controlled\", \"checkedout\"] ; \"valid\": false ; \"word\": -1",
        "history -p demo a.txt | message SccHistory 1 version 1 by pat;message SccHistory 2 careful | \"text\": \"version 1 by pat\\n\" ; \"type\": \"warning\"",
        "checkout -p demo a.txt | return SccCheckout -5;message SccCheckout 3 out to pat | \"code\": -5 ; \"result\": \"SCC_E_ALREADYCHECKEDOUT\" ; \"exit\": 3 ; \"text\": \"out to pat\"",
        "providers | '' | \"key\": \"Software\\\\Vantrel\\\\ApiTestProvider\"",
        "populate --for checkin -p demo a.txt b.txt | populate 1 a.txt;populate 0 b.txt | \"drop\": [\"b.txt\"] ; \"keep\": [\"a.txt\"]"})
    void jsonOutputIsOneDocument(String args, String script, String fragments) {
        TestEnvironment.script(script.split(";"));
        List<String> arguments = new ArrayList<>(Arrays.asList(words(args)));
        arguments.add("--json");
        TestEnvironment.Run run = scc(null, arguments.toArray(new String[0]));
        List<String> python = List.of("python3", "-c", "import json, sys\n"
                + "text = sys.stdin.read()\n"
                + "document, end = json.JSONDecoder().raw_decode(text)\n"
                + "assert text[end:].strip() == '', 'more than one document'\n"
                + "print(json.dumps(document, sort_keys=True))\n");
        TestEnvironment.Run parsed = TestEnvironment.run(python, Map.of(), folder, run.out());
        assertEquals(0, parsed.exit(), "python could not parse the output\n" + run.both()
                + parsed.both());
        for (String fragment : fragments.split(" ; ")) {
            assertTrue(parsed.out().contains(fragment.strip()),
                    "the document should contain " + fragment + ": " + parsed.out());
        }
    }

    @ParameterizedTest(name = "SCC_PROGRESS={0}")
    @CsvSource(delimiter = '|', value = {"never | false", "always | true"})
    void progressLinesOnlyWhenStderrIsATerminal(String progress, boolean shown) {
        TestEnvironment.script("message SccGet 4 step 1", "message SccGet 4 step 2");
        List<String> command = new ArrayList<>(
                TestEnvironment.javaCommand("-jar", TestEnvironment.sccJar().toString()));
        command.addAll(List.of("get", "-p", "demo", "a.txt"));
        Map<String, String> environment = new HashMap<>();
        environment.put("SCC_PROGRESS", progress);
        TestEnvironment.Run run = TestEnvironment.run(command, environment, folder, null).clean();
        assertEquals(0, run.exit(), run.both());
        assertEquals(List.of(shown, shown, ""),
                List.of(run.err().contains("\rstep 1\u001b[K"), run.err().contains("\rstep 2"),
                        run.out()),
                "progress lines on stderr\n" + run.both());
    }

    @Test
    void aSessionRefusesConnectionOptionsOnItsLines() {
        TestEnvironment.Run run = scc("checkout --provider Other -p x a.txt\ncheckout a.txt\n",
                "session", "--keep-going", "-p", "demo");
        assertEquals(2, run.exit(), run.both());
        assertTrue(run.err().contains("provider, trace and project options belong on the session"),
                run.both());
        assertEquals(1, TestEnvironment.calls("SccCheckout").size(), "the second line still ran");
    }
}
