import java.io.IOException;
import java.io.UncheckedIOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import java.util.stream.Collectors;
import java.util.stream.Stream;
import org.objectweb.asm.ClassReader;
import org.objectweb.asm.ClassWriter;
import org.objectweb.asm.commons.ClassRemapper;
import org.objectweb.asm.commons.Remapper;

/**
 * Moves a library's classes to a package of our own in the class files themselves, so that the
 * scc tool's jar carries picocli without clashing with another picocli on a class path.
 *
 * <pre>java -cp asm.jar:asm-commons.jar RelocateClasses.java FROM TO OUT IN...</pre>
 *
 * FROM and TO are package names (picocli, com.vantrel.oskel.scc.cli.internal.picocli). Every class
 * file below each IN folder is rewritten into OUT with each reference to a class of FROM (or of a
 * package below it) pointing to TO instead; classes of FROM move to TO's folder. Other files are
 * copied as they are. String constants are left alone: picocli's name its system properties, not
 * classes. The folders are walked in sorted order and ASM's output depends only on its input, so
 * the same input gives the same bytes.
 */
public final class RelocateClasses {
    private RelocateClasses() {}

    public static void main(String[] args) throws IOException {
        if (args.length < 4) {
            System.err.println("usage: RelocateClasses FROM TO OUT IN...");
            System.exit(2);
        }
        String from = args[0].replace('.', '/') + "/";
        String to = args[1].replace('.', '/') + "/";
        Path out = Path.of(args[2]);
        Remapper remapper = new Remapper() {
            @Override
            public String map(String internalName) {
                return internalName.startsWith(from)
                        ? to + internalName.substring(from.length()) : internalName;
            }
        };
        for (int i = 3; i < args.length; i++) {
            Path in = Path.of(args[i]);
            List<Path> files;
            try (Stream<Path> walk = Files.walk(in)) {
                files = walk.filter(Files::isRegularFile).sorted().collect(Collectors.toList());
            }
            for (Path file : files) {
                String name = in.relativize(file).toString().replace('\\', '/');
                byte[] bytes = Files.readAllBytes(file);
                if (name.endsWith(".class") && !name.endsWith("module-info.class")) {
                    ClassReader reader = new ClassReader(bytes);
                    ClassWriter writer = new ClassWriter(0);
                    reader.accept(new ClassRemapper(writer, remapper), 0);
                    bytes = writer.toByteArray();
                    name = remapper.map(name.substring(0, name.length() - ".class".length()))
                            + ".class";
                }
                Path target = out.resolve(name);
                Files.createDirectories(target.getParent());
                Files.write(target, bytes);
            }
        }
    }
}
