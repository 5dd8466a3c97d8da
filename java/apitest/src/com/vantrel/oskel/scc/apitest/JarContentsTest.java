package com.vantrel.oskel.scc.apitest;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.IOException;
import java.io.InputStream;
import java.lang.module.ModuleDescriptor;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Collections;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.Properties;
import java.util.Set;
import java.util.TreeSet;
import java.util.jar.Attributes;
import java.util.jar.JarFile;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import java.util.stream.Collectors;
import java.util.zip.ZipEntry;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

/**
 * What tools read from the jars: the embedded POMs and coordinates, the POM metadata a repository
 * asks for, the OSGi headers, and the relocated picocli with its licence. (That the jars are
 * reproducible is checked by reproducible-jars.sh.)
 */
@Tag("jars")
class JarContentsTest {
    private static final String GROUP = "com.vantrel.oskel";

    private static Path jar(String which) {
        return which.equals("api") ? TestEnvironment.apiJar() : TestEnvironment.sccJar();
    }

    /** The POM published beside the jars: build/maven/<artifact>-<version>.pom. */
    private static Path publishedPom(String artifact, String version) {
        return TestEnvironment.apiJar().getParent().resolveSibling("maven")
                .resolve(artifact + "-" + version + ".pom");
    }

    private static byte[] entry(JarFile jar, String name) throws IOException {
        ZipEntry entry = jar.getEntry(name);
        assertTrue(entry != null, jar.getName() + " has no " + name);
        try (InputStream in = jar.getInputStream(entry)) {
            return in.readAllBytes();
        }
    }

    /** Rows: jar, artifact whose POM it embeds. The tool's jar embeds the API's POM too. */
    @ParameterizedTest(name = "{0} embeds {1}")
    @CsvSource({"api, oskelsccih-scc", "scc, scc", "scc, oskelsccih-scc"})
    void embeddedPomIsThePublishedOne(String which, String artifact) throws Exception {
        try (JarFile jar = new JarFile(jar(which).toFile())) {
            String base = "META-INF/maven/" + GROUP + "/" + artifact + "/";
            Properties coordinates = new Properties();
            coordinates.load(new java.io.ByteArrayInputStream(entry(jar, base + "pom.properties")));
            String version = coordinates.getProperty("version", "");
            assertEquals(List.of(GROUP, artifact), List.of(coordinates.getProperty("groupId"),
                    coordinates.getProperty("artifactId")), "coordinates in pom.properties");
            assertArrayEquals(Files.readAllBytes(publishedPom(artifact, version)),
                    entry(jar, base + "pom.xml"), "the embedded POM differs from the published one");
            String pom = new String(entry(jar, base + "pom.xml"), StandardCharsets.UTF_8);
            assertTrue(pom.contains("<artifactId>" + artifact + "</artifactId>")
                    && pom.contains("<version>" + version + "</version>"), pom);
        }
    }

    /** What a public repository requires of a POM, with the licence of LICENSE. */
    @ParameterizedTest(name = "{0}")
    @CsvSource({"oskelsccih-scc", "scc"})
    void pomCarriesTheMetadataRepositoriesRequire(String artifact) throws Exception {
        String version;
        try (JarFile jar = new JarFile(TestEnvironment.apiJar().toFile())) {
            version = jar.getManifest().getMainAttributes().getValue("Bundle-Version");
        }
        String pom = Files.readString(publishedPom(artifact, version));
        List<String> missing = new ArrayList<>();
        for (String pattern : List.of("<name>[^<]+</name>", "<description>[^<]+</description>",
                "<url>https://[^<]+</url>",
                "<license>\\s*<name>Apache License, Version 2\\.0</name>\\s*"
                        + "<url>https://www\\.apache\\.org/licenses/LICENSE-2\\.0\\.txt</url>",
                "<developers>\\s*<developer>.*<name>[^<]+</name>.*</developer>\\s*</developers>",
                "<scm>.*<connection>scm:git:[^<]+</connection>.*<url>[^<]+</url>.*</scm>")) {
            if (!Pattern.compile(pattern, Pattern.DOTALL).matcher(pom).find()) {
                missing.add(pattern);
            }
        }
        assertEquals(List.of(), missing, "not in " + artifact + "'s POM");
    }

    /** Splits a header at commas outside quotes. */
    private static List<String> clauses(String header) {
        List<String> out = new ArrayList<>();
        Matcher m = Pattern.compile("(?:[^,\"]|\"[^\"]*\")+").matcher(header);
        while (m.find()) {
            out.add(m.group().trim());
        }
        return out;
    }

    @Test
    void bundleHeadersNameEveryPlatformsNativesAsTheJarLaysThemOut() throws Exception {
        try (JarFile jar = new JarFile(TestEnvironment.apiJar().toFile())) {
            Attributes main = jar.getManifest().getMainAttributes();
            assertEquals(List.of("2", "com.vantrel.oskel.scc"), List.of(
                    String.valueOf(main.getValue("Bundle-ManifestVersion")),
                    String.valueOf(main.getValue("Bundle-SymbolicName"))));
            assertTrue(main.getValue("Bundle-Version").matches("\\d+\\.\\d+\\.\\d+(\\.[\\w-]+)?"),
                    "Bundle-Version " + main.getValue("Bundle-Version"));
            // The bundle exports what the module exports, and nothing else.
            Set<String> packages = ModuleDescriptor.read(new java.io.ByteArrayInputStream(
                    entry(jar, "module-info.class"))).exports().stream()
                    .map(ModuleDescriptor.Exports::source)
                    .collect(Collectors.toCollection(TreeSet::new));
            Set<String> exported = clauses(main.getValue("Export-Package")).stream()
                    .map(c -> c.split(";")[0]).collect(Collectors.toCollection(TreeSet::new));
            assertEquals(packages, exported, "Export-Package");
            // One clause per platform, naming exactly the files its files.sha256 lists.
            Map<String, String> expected = new LinkedHashMap<>();
            expected.put("linux-x86_64", "osname=Linux;processor=x86-64");
            expected.put("windows-x86", "osname=Win32;processor=x86");
            expected.put("windows-x86_64", "osname=Win32;processor=x86-64");
            Map<String, String> found = new LinkedHashMap<>();
            for (String clause : clauses(main.getValue("Bundle-NativeCode"))) {
                List<String> paths = new ArrayList<>();
                List<String> parameters = new ArrayList<>();
                for (String part : clause.split(";")) {
                    (part.contains("=") ? parameters : paths).add(part.trim());
                }
                String platform = paths.get(0).split("/")[1];
                List<String> listed = new ArrayList<>();
                for (String line : new String(entry(jar, "native/" + platform + "/files.sha256"),
                        StandardCharsets.US_ASCII).split("\n")) {
                    if (!line.isBlank()) {
                        listed.add("native/" + platform + "/" + line.trim().split(" +")[1]);
                    }
                }
                Collections.sort(listed);
                Collections.sort(paths);
                assertEquals(listed, paths, "the files of the " + platform + " clause");
                found.put(platform, String.join(";", parameters));
            }
            assertEquals(expected, found, "Bundle-NativeCode clauses");
            assertTrue(main.getValue("Require-Capability").contains("(version>=17)"),
                    "Require-Capability " + main.getValue("Require-Capability"));
        }
    }

    @Test
    void theApisJavadocJarOpensOnTheGettingStartedPage() throws Exception {
        Path javadoc = publishedPom("oskelsccih-scc", "x").getParent();
        Path found;
        try (var files = Files.list(javadoc)) {
            found = files.filter(f -> f.getFileName().toString().matches("oskelsccih-scc-.*-javadoc\\.jar"))
                    .findFirst().orElseThrow();
        }
        try (JarFile jar = new JarFile(found.toFile())) {
            String overview = new String(entry(jar, "index.html"), StandardCharsets.UTF_8);
            assertTrue(overview.contains("Getting started"), "the overview is the first page");
        }
    }

    @Test
    void toolJarCarriesPicocliRelocatedWithItsLicence() throws Exception {
        try (JarFile jar = new JarFile(TestEnvironment.sccJar().toFile())) {
            List<String> names = jar.stream().map(ZipEntry::getName).collect(Collectors.toList());
            String relocated = "com/vantrel/oskel/scc/cli/internal/picocli/";
            assertEquals(List.of(), names.stream().filter(n -> n.startsWith("picocli/"))
                    .collect(Collectors.toList()), "picocli classes left in their own package");
            assertTrue(names.stream().filter(n -> n.startsWith(relocated)).count() > 100,
                    "relocated picocli classes: " + names.stream()
                            .filter(n -> n.startsWith(relocated)).count());
            // No class refers to the old package any more (the constant pool names it).
            List<String> referring = new ArrayList<>();
            for (String name : names) {
                if (name.endsWith(".class")) {
                    String text = new String(entry(jar, name), StandardCharsets.ISO_8859_1);
                    if (text.contains("Lpicocli/") || text.contains("\u0001picocli/")
                            || text.matches("(?s).*[^/a-z]picocli/CommandLine.*")) {
                        referring.add(name);
                    }
                }
            }
            assertEquals(List.of(), referring, "classes still referring to picocli/");
            String licence = new String(entry(jar, "META-INF/licenses/picocli/LICENSE"),
                    StandardCharsets.UTF_8);
            assertTrue(licence.contains("Apache License") && licence.contains("Version 2.0"));
            assertTrue(new String(entry(jar, "META-INF/licenses/picocli/copyright"),
                    StandardCharsets.UTF_8).matches("(?s).*Copyright: .*License: Apache-2\\.0.*"),
                    "picocli's copyright notice");
        }
    }
}
