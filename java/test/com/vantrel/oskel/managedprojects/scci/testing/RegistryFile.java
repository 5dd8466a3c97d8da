package com.vantrel.oskel.managedprojects.scci.testing;

import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.UncheckedIOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

/**
 * The registry the library sees: a registry export file (.reg) under HKEY_LOCAL_MACHINE that the
 * library re-reads at every key open. Every change rewrites the file at once, so a test can change
 * the registry between two native calls.
 *
 * <p>The file is written as 8-bit text without a byte-order mark, with CRLF line ends as regedit
 * writes them. Key paths, value names and data given as {@code String} are written in ISO-8859-1
 * (characters beyond U+00FF are refused); the {@code byte[]} forms write the bytes as they are,
 * for tests of names and keys that are not ASCII.
 */
public final class RegistryFile {
    public static final String PROVIDER_ROOT = "Software\\SourceCodeControlProvider";
    public static final String INSTALLED_PROVIDERS = PROVIDER_ROOT + "\\InstalledSCCProviders";
    public static final String DEFAULT_PROVIDER_VALUE = "ProviderRegKey";
    public static final String SERVER_PATH_VALUE = "SCCServerPath";
    /** The value that runs a provider in a host process, and its call timeout. */
    public static final String HOST_PROCESS_VALUE = "SCCHostProcess";
    public static final String HOST_TIMEOUT_VALUE = "SCCHostTimeout";

    /** The provider every test starts with. */
    public static final String TEST_PROVIDER_NAME = "Vantrel Test Provider";
    public static final String TEST_PROVIDER_KEY = "Software\\Vantrel\\TestProvider";

    private static final byte[] HEADER = bytes("Windows Registry Editor Version 5.00\r\n");

    private final Path path;
    /** Key path bytes to (value name bytes to the rendered right-hand side). */
    private final Map<Bytes, Map<Bytes, byte[]>> keys = new LinkedHashMap<>();
    private byte[] raw;
    private boolean present;

    public RegistryFile(Path path) {
        this.path = path;
    }

    public Path path() {
        return path;
    }

    /** The standard set-up: the test provider installed and named as the default provider. */
    public RegistryFile standard() {
        clear();
        defaultProvider(TEST_PROVIDER_KEY);
        installProvider(TEST_PROVIDER_NAME, TEST_PROVIDER_KEY);
        provider(TEST_PROVIDER_KEY, TestEnvironment.provider(TestEnvironment.TEST_PROVIDER));
        return this;
    }

    /** An empty registry: the header and no key. */
    public RegistryFile clear() {
        keys.clear();
        raw = null;
        present = true;
        return write();
    }

    /** No registry file at all. */
    public RegistryFile deleteFile() {
        keys.clear();
        raw = null;
        present = false;
        try {
            Files.deleteIfExists(path);
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
        return this;
    }

    /** Replaces the file by exactly these bytes (until the next change through this object). */
    public RegistryFile rawContent(byte[] content) {
        keys.clear();
        raw = content.clone();
        present = true;
        return write();
    }

    /** Makes sure the key exists, with a section of its own. */
    public RegistryFile key(String keyPath) {
        return key(bytes(keyPath));
    }

    public RegistryFile key(byte[] keyPath) {
        keys.computeIfAbsent(new Bytes(keyPath), k -> new LinkedHashMap<>());
        return write();
    }

    /** Removes the key's own section and its values (sections of subkeys stay). */
    public RegistryFile removeKey(String keyPath) {
        keys.remove(new Bytes(bytes(keyPath)));
        return write();
    }

    /** Sets a string value. */
    public RegistryFile set(String keyPath, String name, String data) {
        return set(bytes(keyPath), bytes(name), bytes(data));
    }

    public RegistryFile set(byte[] keyPath, byte[] name, byte[] data) {
        return put(keyPath, name, quoted(data));
    }

    /** Sets a dword value. */
    public RegistryFile setDword(String keyPath, String name, int data) {
        return put(bytes(keyPath), bytes(name), bytes(String.format("dword:%08x", data)));
    }

    public RegistryFile remove(String keyPath, String name) {
        Map<Bytes, byte[]> values = keys.get(new Bytes(bytes(keyPath)));
        if (values != null) {
            values.remove(new Bytes(bytes(name)));
        }
        return write();
    }

    /** Lists a provider under InstalledSCCProviders: display name to provider key. */
    public RegistryFile installProvider(String name, String providerKey) {
        return set(INSTALLED_PROVIDERS, name, providerKey);
    }

    public RegistryFile installProvider(byte[] name, byte[] providerKey) {
        return set(bytes(INSTALLED_PROVIDERS), name, providerKey);
    }

    /**
     * Creates a provider key naming its library in SCCServerPath. In a hosted run
     * ({@link TestEnvironment#hosted()}) the key also asks for a host process.
     */
    public RegistryFile provider(String providerKey, Path library) {
        return provider(providerKey, library.toString());
    }

    public RegistryFile provider(String providerKey, String libraryPath) {
        set(providerKey, SERVER_PATH_VALUE, libraryPath);
        return TestEnvironment.hosted() ? set(providerKey, HOST_PROCESS_VALUE, "1") : this;
    }

    public RegistryFile provider(byte[] providerKey, Path library) {
        set(providerKey, bytes(SERVER_PATH_VALUE), bytes(library.toString()));
        return TestEnvironment.hosted()
                ? set(providerKey, bytes(HOST_PROCESS_VALUE), bytes("1"))
                : this;
    }

    /** Sets ProviderRegKey, the key of the default provider. */
    public RegistryFile defaultProvider(String providerKey) {
        return set(PROVIDER_ROOT, DEFAULT_PROVIDER_VALUE, providerKey);
    }

    /** The file's bytes as they are written. */
    public byte[] content() {
        if (raw != null) {
            return raw.clone();
        }
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        out.writeBytes(HEADER);
        for (Map.Entry<Bytes, Map<Bytes, byte[]>> key : keys.entrySet()) {
            out.writeBytes(bytes("\r\n[HKEY_LOCAL_MACHINE\\"));
            out.writeBytes(key.getKey().bytes);
            out.writeBytes(bytes("]\r\n"));
            for (Map.Entry<Bytes, byte[]> value : key.getValue().entrySet()) {
                out.writeBytes(quoted(value.getKey().bytes));
                out.write('=');
                out.writeBytes(value.getValue());
                out.writeBytes(bytes("\r\n"));
            }
        }
        return out.toByteArray();
    }

    private RegistryFile put(byte[] keyPath, byte[] name, byte[] rendered) {
        keys.computeIfAbsent(new Bytes(keyPath), k -> new LinkedHashMap<>())
                .put(new Bytes(name), rendered);
        return write();
    }

    private RegistryFile write() {
        if (!present) {
            return this;
        }
        try {
            Path tmp = path.resolveSibling(path.getFileName() + ".tmp");
            Files.write(tmp, content());
            Files.move(tmp, path, java.nio.file.StandardCopyOption.REPLACE_EXISTING,
                    java.nio.file.StandardCopyOption.ATOMIC_MOVE);
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
        return this;
    }

    /** A double-quoted .reg text with {@code \\} and {@code \"} escapes. */
    static byte[] quoted(byte[] text) {
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        out.write('"');
        for (byte b : text) {
            if (b == '\\' || b == '"') {
                out.write('\\');
            }
            out.write(b);
        }
        out.write('"');
        return out.toByteArray();
    }

    /** ISO-8859-1 bytes of a text; refuses characters beyond U+00FF. */
    public static byte[] bytes(String text) {
        if (!StandardCharsets.ISO_8859_1.newEncoder().canEncode(text)) {
            throw new IllegalArgumentException("not 8-bit text, pass the bytes instead: " + text);
        }
        return text.getBytes(StandardCharsets.ISO_8859_1);
    }

    /** Concatenates byte strings: {@code concat(bytes("Caf"), new byte[] {(byte) 0xe9})}. */
    public static byte[] concat(byte[]... parts) {
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        for (byte[] part : parts) {
            out.writeBytes(part);
        }
        return out.toByteArray();
    }

    /** A key path of exactly {@code length} characters below {@code parent}, in short components. */
    public static String keyPathOfLength(String parent, int length) {
        StringBuilder sb = new StringBuilder(parent);
        List<Character> letters = new ArrayList<>(Arrays.asList('K', 'L', 'M', 'N', 'O'));
        int component = 0;
        while (sb.length() < length) {
            sb.append('\\');
            int room = Math.min(200, length - sb.length());
            if (room == 0) {
                // a trailing backslash would not be a key path: lengthen the previous component
                sb.setLength(sb.length() - 1);
                sb.append('X');
                continue;
            }
            char letter = letters.get(component++ % letters.size());
            sb.append(String.valueOf(letter).repeat(room));
        }
        if (sb.length() != length) {
            throw new IllegalArgumentException("parent longer than " + length + ": " + parent);
        }
        return sb.toString();
    }

    private static final class Bytes {
        final byte[] bytes;

        Bytes(byte[] bytes) {
            this.bytes = bytes.clone();
        }

        @Override
        public boolean equals(Object o) {
            return o instanceof Bytes && Arrays.equals(bytes, ((Bytes) o).bytes);
        }

        @Override
        public int hashCode() {
            return Arrays.hashCode(bytes);
        }
    }
}
