package com.vantrel.oskel.bench;

import java.lang.foreign.Arena;
import java.lang.foreign.FunctionDescriptor;
import java.lang.foreign.Linker;
import java.lang.foreign.MemorySegment;
import java.lang.foreign.SymbolLookup;
import java.lang.foreign.ValueLayout;
import java.lang.invoke.MethodHandle;
import java.nio.charset.Charset;
import java.nio.file.Path;

/**
 * The provider called directly through the FFM API (JDK 22 and later), as a Java program without
 * the bridge would: each name encoded in the locale's charset into a confined arena, one downcall.
 */
public final class FfmAnchor implements Bench.Direct {
    private final MethodHandle checkout;
    private final MethodHandle queryInfo;
    private final MemorySegment context;
    private final Charset charset;

    public FfmAnchor(String libraryPath, Charset charset) throws Throwable {
        this.charset = charset;
        Linker linker = Linker.nativeLinker();
        SymbolLookup lookup = SymbolLookup.libraryLookup(Path.of(libraryPath), Arena.global());
        MethodHandle init = linker.downcallHandle(lookup.find("SccInitialize").orElseThrow(),
                FunctionDescriptor.of(ValueLayout.JAVA_INT, ValueLayout.ADDRESS, ValueLayout.ADDRESS,
                        ValueLayout.ADDRESS, ValueLayout.ADDRESS, ValueLayout.ADDRESS,
                        ValueLayout.ADDRESS, ValueLayout.ADDRESS, ValueLayout.ADDRESS));
        checkout = linker.downcallHandle(lookup.find("SccCheckout").orElseThrow(),
                FunctionDescriptor.of(ValueLayout.JAVA_INT, ValueLayout.ADDRESS, ValueLayout.ADDRESS,
                        ValueLayout.JAVA_INT, ValueLayout.ADDRESS, ValueLayout.ADDRESS,
                        ValueLayout.JAVA_INT, ValueLayout.ADDRESS));
        queryInfo = linker.downcallHandle(lookup.find("SccQueryInfo").orElseThrow(),
                FunctionDescriptor.of(ValueLayout.JAVA_INT, ValueLayout.ADDRESS, ValueLayout.JAVA_INT,
                        ValueLayout.ADDRESS, ValueLayout.ADDRESS));
        Arena arena = Arena.global();
        MemorySegment ctx = arena.allocate(ValueLayout.ADDRESS);
        int r = (int) init.invokeExact(ctx, MemorySegment.NULL, arena.allocateFrom("bench"),
                arena.allocate(261), arena.allocate(4), arena.allocate(261), arena.allocate(4),
                arena.allocate(4));
        if (r != 0) {
            throw new IllegalStateException("SccInitialize gave " + r);
        }
        context = ctx.get(ValueLayout.ADDRESS, 0);
    }

    private MemorySegment names(Arena arena, String[] names) {
        MemorySegment array = arena.allocate(ValueLayout.ADDRESS, names.length);
        for (int i = 0; i < names.length; i++) {
            array.setAtIndex(ValueLayout.ADDRESS, i, arena.allocateFrom(names[i], charset));
        }
        return array;
    }

    @Override
    public int checkout(String[] names, String comment) {
        try (Arena arena = Arena.ofConfined()) {
            MemorySegment array = names(arena, names);
            MemorySegment c = comment == null ? MemorySegment.NULL
                    : arena.allocateFrom(comment, charset);
            return (int) checkout.invokeExact(context, MemorySegment.NULL, names.length, array, c, 0,
                    MemorySegment.NULL);
        } catch (Throwable t) {
            throw new IllegalStateException(t);
        }
    }

    @Override
    public int[] queryInfo(String[] names) {
        try (Arena arena = Arena.ofConfined()) {
            MemorySegment array = names(arena, names);
            MemorySegment status = arena.allocate(ValueLayout.JAVA_INT, names.length + 1L);
            int r = (int) queryInfo.invokeExact(context, names.length, array, status);
            return r < 0 ? null : status.asSlice(0, 4L * names.length).toArray(ValueLayout.JAVA_INT);
        } catch (Throwable t) {
            throw new IllegalStateException(t);
        }
    }
}
