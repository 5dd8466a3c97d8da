package com.vantrel.oskel.bench;

import java.lang.foreign.Arena;
import java.lang.foreign.FunctionDescriptor;
import java.lang.foreign.Linker;
import java.lang.foreign.MemorySegment;
import java.lang.foreign.SymbolLookup;
import java.lang.foreign.ValueLayout;
import java.lang.invoke.MethodHandle;
import java.nio.file.Path;

/** The provider called directly through the FFM API (JDK 22 and later). */
public final class FfmAnchor implements java.util.function.BiFunction<String[], String, Integer> {
    private final MethodHandle checkout;
    private final MemorySegment context;

    public FfmAnchor(String libraryPath) throws Throwable {
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

    @Override
    public Integer apply(String[] names, String comment) {
        try (Arena arena = Arena.ofConfined()) {
            MemorySegment array = arena.allocate(ValueLayout.ADDRESS, names.length);
            for (int i = 0; i < names.length; i++) {
                array.setAtIndex(ValueLayout.ADDRESS, i, arena.allocateFrom(names[i]));
            }
            MemorySegment c = comment == null ? MemorySegment.NULL : arena.allocateFrom(comment);
            return (int) checkout.invokeExact(context, MemorySegment.NULL, names.length, array, c, 0,
                    MemorySegment.NULL);
        } catch (Throwable t) {
            throw new IllegalStateException(t);
        }
    }
}
