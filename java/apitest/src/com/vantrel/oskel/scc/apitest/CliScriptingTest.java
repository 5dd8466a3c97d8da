package com.vantrel.oskel.scc.apitest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.BufferedReader;
import java.io.IOException;
import java.io.InputStreamReader;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.concurrent.TimeUnit;
import java.util.regex.Pattern;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

/**
 * scc as a scripting tool, run as a process against the test provider: the folder's binding,
 * standard output that carries only the output, JSON usage errors and event streams, porcelain
 * quoting and -z, suggestions for mistyped commands, -V, and arguments that do not decode.
 */
@Tag("cli")
class CliScriptingTest {
    private Path folder;

    @BeforeEach
    void setUp() {
        folder = TestEnvironment.testProviderFolder("cli-scripting");
    }

    private static Map<String, String> cleanEnvironment() {
        Map<String, String> environment = new HashMap<>();
        for (String name : List.of("SCC_PROVIDER", "SCC_PROJECT", "SCC_USER", "SCC_AUX_PATH",
                "SCC_DEBUG")) {
            environment.put(name, null);
        }
        return environment;
    }

    private static List<String> sccCommand(String... args) {
        List<String> command = new ArrayList<>(
                TestEnvironment.javaCommand("-jar", TestEnvironment.sccJar().toString()));
        command.addAll(Arrays.asList(args));
        return command;
    }

    private TestEnvironment.Run sccIn(Path where, String input, String... args) {
        return TestEnvironment.run(sccCommand(args), cleanEnvironment(), where, input).clean();
    }

    private static String[] words(String line) {
        return line.isBlank() ? new String[0] : line.strip().split(" ");
    }

    /** Each line of the text as a JSON document, as Python's json module prints it back. */
    private List<String> jsonLines(String text) {
        List<String> python = List.of("python3", "-c", "import json, sys\n"
                + "for line in sys.stdin.read().split('\\n')[:-1]:\n"
                + "    print(json.dumps(json.loads(line), sort_keys=True, ensure_ascii=False))\n");
        TestEnvironment.Run parsed = TestEnvironment.run(python, Map.of(), folder, text);
        assertEquals(0, parsed.exit(), "not JSON lines:\n" + text + "\n" + parsed.both());
        return parsed.out().isEmpty() ? List.of() : List.of(parsed.out().split("\n"));
    }

    /**
     * Rows: the binding file's lines (';'-separated; - for none), the folder scc runs in below
     * the bound one, the arguments, the exit code, a pattern for the call log and the output.
     * BOUND is the bound folder.
     */
    @ParameterizedTest(name = "[{0}] in {1}: scc {2} -> {3}")
    @CsvSource(delimiter = '|', value = {
        "project=demo;auxPath=store1 | sub | status x.txt | 0 | SccOpenProject .* project=\"demo\" local=\"BOUND\" aux=\"store1\" .*\\nSccQueryInfo .*names=\\[\"BOUND/sub/x.txt\"\\]",
        "project=demo;auxPath=store1 | sub/deeper | status ../x.txt | 0 | SccQueryInfo .*names=\\[\"BOUND/sub/x.txt\"\\]",
        "project=demo;auxPath=store1 | sub | status -p other -a store2 x.txt | 0 | project=\"other\" local=\"BOUND\" aux=\"store2\"",
        "project=demo;auxPath=store1 | . | status -l sub x.txt | 0 | project=\"demo\" local=\"BOUND/sub\" aux=\"store1\"",
        "provider=Nope;project=demo | sub | status x.txt | 4 | no source-control provider named \"Nope\"",
        "provider=Nope;project=demo | sub | status --provider Api\\ Test\\ Provider x.txt | 0 | project=\"demo\"",
        "key=Software\\\\Vantrel\\\\ApiTestProvider;project=demo | . | info | 0 | provider: +Test Provider",
        "- | sub | status x.txt | 2 | scc: no project given: .*no binding \\(\\.scc/binding\\) found in BOUND/sub or any parent: run 'scc init",
        "auxPath=store1 | . | status x.txt | 6 | scc: the binding BOUND/\\.scc/binding names no project"})
    void commandsFindTheBindingByWalkingUp(String binding, String where, String args, int exit,
            String expected) throws IOException {
        Path bound = folder.resolve("bound");
        Files.createDirectories(bound.resolve(where));
        if (!binding.equals("-")) {
            TestEnvironment.write(bound.resolve(".scc/binding"),
                    String.join("\n", binding.split(";")) + "\n");
        }
        String[] arguments = args.replace("\\ ", "\u0000").split(" ");
        for (int i = 0; i < arguments.length; i++) {
            arguments[i] = arguments[i].replace('\u0000', ' ');
        }
        TestEnvironment.Run run = sccIn(bound.resolve(where).normalize(), null, arguments);
        String seen = String.join("\n", TestEnvironment.calls()) + "\n--- output\n" + run.both();
        assertEquals(exit, run.exit(), seen);
        String pattern = expected.replace("BOUND", Pattern.quote(bound.toString()));
        assertTrue(Pattern.compile(pattern).matcher(seen).find(),
                "should match " + pattern + "\n" + seen);
    }

    @Test
    void initRecordsTheBindingThatLaterCommandsUse() throws IOException {
        Path work = Files.createDirectories(folder.resolve("w/sub"));
        TestEnvironment.Run init = sccIn(work.getParent(), null, "init", "--provider",
                TestEnvironment.TEST_PROVIDER, "-p", "demo", "-a", "store9");
        assertEquals(0, init.exit(), init.both());
        String binding = TestEnvironment.read(work.getParent().resolve(".scc/binding"));
        assertTrue(binding.contains("provider=Api Test Provider\n") && binding.contains(
                "project=demo\n") && binding.contains("auxPath=store9\n"), binding);
        TestEnvironment.clearCalls();
        TestEnvironment.script("status 0 0x1");
        TestEnvironment.Run status = sccIn(work, null, "--porcelain", "status", "x.txt");
        assertEquals("x.txt\t0x00000001\tcontrolled\n", status.out(), status.both());
        assertTrue(TestEnvironment.calls("SccOpenProject").get(0).contains(
                "project=\"demo\" local=\"" + work.getParent() + "\" aux=\"store9\""),
                TestEnvironment.calls().toString());
        // init below a bound folder binds the subfolder and leaves the parent's binding alone.
        TestEnvironment.clearCalls();
        TestEnvironment.Run inner = sccIn(work, null, "init", "-p", "inner");
        assertEquals(0, inner.exit(), inner.both());
        assertEquals(List.of(binding, true),
                List.of(TestEnvironment.read(work.getParent().resolve(".scc/binding")),
                        TestEnvironment.read(work.resolve(".scc/binding"))
                                .contains("project=inner\n")), "the two bindings");
        assertTrue(TestEnvironment.calls("SccOpenProject").get(0).contains(
                "project=\"inner\" local=\"" + work + "\" aux=\"\""),
                TestEnvironment.calls().toString());
    }

    @Test
    void statusWithoutFilesListsTheFilesOfTheFolder() throws IOException {
        Files.createDirectories(folder.resolve("nested"));
        for (String name : List.of("b.txt", "a.txt")) {
            TestEnvironment.write(folder.resolve(name), name);
        }
        TestEnvironment.script("status 0 0x1", "status 1 0");
        TestEnvironment.Run run = sccIn(folder, null, "--porcelain", "status", "-p", "demo");
        assertEquals(0, run.exit(), run.both());
        assertEquals("a.txt\t0x00000001\tcontrolled\nb.txt\t0x00000000\t-\n", run.out(),
                run.both());
        assertTrue(TestEnvironment.calls("SccQueryInfo").get(0).contains("names=[\""
                + folder.resolve("a.txt") + "\",\"" + folder.resolve("b.txt") + "\"]"),
                TestEnvironment.calls().toString());
    }

    /**
     * Rows: arguments, standard input (';'-separated lines), the exact standard output (JSON:
     * the number of documents, one per line), a text standard error must hold.
     */
    @ParameterizedTest(name = "scc {0}")
    @CsvSource(delimiter = '|', value = {
        "-v --porcelain status -p demo a.txt | - | a.txt\\t0x00000000\\t-\\n | -- connected to Test Provider",
        "-v -z status -p demo a.txt | - | a.txt\\t0x00000000\\t-\\0 | -- closed project demo",
        "--porcelain -v checkout -p demo a.txt | - | checkout\\tSCC_OK\\t0\\n | -- opened project demo",
        "-v --json checkout -p demo a.txt | - | json 1 | -- disconnected from Test Provider",
        "session --json -p demo | status a.txt;checkout a.txt | json 2 | scc> checkout a.txt",
        "session --porcelain -p demo | status a.txt | a.txt\\t0x00000000\\t-\\n | scc> status a.txt"})
    void standardOutputCarriesOnlyTheOutput(String args, String input, String out,
            String err) {
        TestEnvironment.script("status * 0");
        TestEnvironment.Run run = sccIn(folder, input.equals("-") ? null
                : String.join("\n", input.split(";")) + "\n", words(args));
        assertEquals(0, run.exit(), run.both());
        if (out.startsWith("json ")) {
            List<String> documents = jsonLines(run.out());
            assertEquals(Integer.parseInt(out.substring(5)), documents.size(), run.both());
            assertTrue(documents.stream().allMatch(d -> d.contains("\"result\": \"SCC_OK\"")),
                    documents.toString());
        } else {
            assertEquals(out.replace("\\t", "\t").replace("\\n", "\n").replace("\\0", "\0"),
                    run.out(), run.both());
        }
        assertTrue(run.err().contains(err), run.both());
    }

    /**
     * Rows: arguments (--json is added), what standard error says, the suggestions in the JSON
     * document.
     */
    @ParameterizedTest(name = "scc --json {0}")
    @CsvSource(delimiter = '|', value = {
        "statsu | did you mean 'status'? | [\"status\"]",
        "chekcout -p demo a.txt | did you mean 'checkout'? | [\"checkout\"]",
        "histroy | did you mean 'history'? | [\"history\"]",
        "frobnicate | Unmatched argument at index 1: 'frobnicate' | []",
        "checkout -p demo | Missing required parameter: 'FILE' | []",
        "status --bogus | Unknown option: '--bogus' | []",
        "'' | no command given | []"})
    void usageErrorsAreOneJsonDocumentWithExitCode2(String args, String err,
            String suggestions) {
        List<String> arguments = new ArrayList<>(List.of("--json"));
        arguments.addAll(Arrays.asList(words(args)));
        TestEnvironment.Run run = sccIn(folder, null, arguments.toArray(new String[0]));
        assertEquals(2, run.exit(), run.both());
        assertTrue(run.err().contains(err), run.both());
        List<String> documents = jsonLines(run.out());
        assertEquals(1, documents.size(), run.both());
        assertTrue(documents.get(0).contains("\"exit\": 2")
                        && documents.get(0).contains("\"error\": \"")
                        && documents.get(0).contains("\"suggestions\": " + suggestions),
                documents.get(0));
        assertEquals(List.of(), TestEnvironment.calls("SccInitialize"), "nothing connected");
    }

    @Test
    void watchedEventsStreamAsJsonLines() throws Exception {
        TestEnvironment.script("event 3 0 " + folder.resolve("a.txt"));
        Process process = new ProcessBuilder(sccCommand("events", "--json", "--watch", "6",
                "-p", "demo")).directory(folder.toFile())
                .redirectError(ProcessBuilder.Redirect.DISCARD).start();
        try (BufferedReader out = new BufferedReader(
                new InputStreamReader(process.getInputStream(), StandardCharsets.UTF_8))) {
            String first = out.readLine();
            assertTrue(process.isAlive(), "the first event came before the watch ended");
            List<String> lines = new ArrayList<>(List.of(String.valueOf(first)));
            for (String line = out.readLine(); line != null; line = out.readLine()) {
                lines.add(line);
            }
            assertTrue(process.waitFor(60, TimeUnit.SECONDS), "the watch ended");
            assertEquals(0, process.exitValue());
            List<String> documents = jsonLines(String.join("\n", lines) + "\n");
            assertTrue(documents.size() >= 2, "an event per poll: " + documents);
            String event = "{\"event\": {\"file\": \"" + folder.resolve("a.txt")
                    + "\", \"flags\": [\"controlled\", \"checkedout\"], \"valid\": true, "
                    + "\"word\": 3}}";
            assertTrue(documents.stream().allMatch(event::equals), documents.toString());
        } finally {
            process.destroyForcibly();
        }
    }

    @Test
    void porcelainQuotesNamesThatNeedItAndMinusZDoesNot() {
        List<String> names = List.of("plain.txt", "t\tab.txt", "q\"u.txt", "back\\slash.txt",
                "new\nline.txt", "bell\u0007.txt", "del\u007f.txt", "\u00e9t\u00e9.txt");
        List<String> quoted = List.of("plain.txt", "\"t\\tab.txt\"", "\"q\\\"u.txt\"",
                "\"back\\\\slash.txt\"", "\"new\\nline.txt\"", "\"bell\\a.txt\"",
                "\"del\\177.txt\"", "\u00e9t\u00e9.txt");
        TestEnvironment.script("status * 0");
        List<String> args = new ArrayList<>(List.of("status", "-p", "demo"));
        args.addAll(names);
        for (boolean nul : new boolean[] {false, true}) {
            List<String> line = new ArrayList<>(args);
            line.add(0, nul ? "-z" : "--porcelain");
            TestEnvironment.Run run = sccIn(folder, null, line.toArray(new String[0]));
            StringBuilder expected = new StringBuilder();
            for (String name : nul ? names : quoted) {
                expected.append(name).append("\t0x00000000\t-").append(nul ? '\0' : '\n');
            }
            assertEquals(expected.toString(), run.out(), run.both());
        }
    }

    /**
     * Rows: a bash command line (SCC runs the tool; $'...' makes bytes the locale cannot
     * decode), exit code, standard error.
     */
    @ParameterizedTest(name = "{0}")
    @CsvSource(delimiter = '|', value = {
        "SCC add -p demo $'n\\xff.txt' | 2 | argument 4 ('n\\ufffd.txt') does not decode",
        "SCC --json add -p demo $'n\\xff.txt' | 2 | argument 5 ('n\\ufffd.txt') does not decode",
        "SCC status -p $'d\\xe9mo' a.txt | 2 | argument 3 ('d\\ufffdmo') does not decode",
        "SCC session -p demo < <(printf 'add n\\xff.txt\\n') | 2 | line 1 of the session script does not decode",
        "touch $'m\\xff.txt' && SCC --porcelain status -p demo | 0 | warning: left out a name that does not decode in the locale's encoding, or holds U+FFFD: 'm\\ufffd.txt'"})
    void argumentsThatDoNotDecodeAreRefused(String line, int exit, String err)
            throws IOException {
        // The file a mangled n\xff.txt would reach.
        Files.writeString(folder.resolve("n\ufffd.txt"), "not this one");
        List<String> command = new ArrayList<>(List.of("bash", "-c",
                line.replace("SCC ", "\"$@\" "), "bash"));
        command.addAll(sccCommand());
        TestEnvironment.Run run = TestEnvironment.run(command, cleanEnvironment(), folder, null)
                .clean();
        assertEquals(exit, run.exit(), run.both());
        assertTrue(run.err().contains(err), run.both());
        assertEquals(List.of(List.of(), List.of()), List.of(TestEnvironment.calls("SccAdd"),
                TestEnvironment.calls("SccQueryInfo")), "no file reached the provider");
        assertTrue(!run.out().contains("\ufffd"), run.both());
    }

    @Test
    void versionConnectsToNothingAndFailsWithoutTheLibrary() {
        TestEnvironment.Run run = sccIn(folder, null, "-V");
        assertEquals(0, run.exit(), run.both());
        assertTrue(Pattern.compile("\\Ascc \\d+\\.\\d+\\.\\d+ \\(oskelsccih\\)\\nnative library: /\\S+"
                + "\\nplatform: linux-x86_64\\n\\z").matcher(run.out()).find(), run.both());
        assertEquals(List.of(), TestEnvironment.calls(), "-V called the provider");
        List<String> command = new ArrayList<>(TestEnvironment.javaCommand(
                "-Doskelsccih.library=/no/such/liboskelsccih.so", "-jar",
                TestEnvironment.sccJar().toString(), "--version"));
        TestEnvironment.Run broken = TestEnvironment.run(command, cleanEnvironment(), folder,
                null).clean();
        assertEquals(6, broken.exit(), broken.both());
        assertTrue(broken.err().startsWith("scc: the oskelsccih native library could not be "
                + "loaded from /no/such/liboskelsccih.so"), broken.both());
    }

    @ParameterizedTest(name = "scc {0} -h")
    @CsvSource({"status", "dirstatus", "events", "init", "session"})
    void helpPrintsNoFormatWarnings(String command) {
        TestEnvironment.Run run = sccIn(folder, null, command, "-h");
        assertEquals(0, run.exit(), run.both());
        assertEquals("", run.err(), run.both());
        assertTrue(run.out().startsWith("Usage: scc " + command), run.both());
    }
}
