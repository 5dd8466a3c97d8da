package com.vantrel.oskel.managedprojects.scci;

import java.lang.reflect.InvocationHandler;
import java.lang.reflect.Proxy;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashMap;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

/**
 * A project descriptor for the tests: the getters return texts the test chose, the setters store
 * what the library hands them, and every call is recorded in order. A method can be made to throw,
 * and {@link #without} makes a descriptor whose class lacks some of the methods altogether.
 *
 * <p>The library finds the methods by name and signature on the object's class, so the objects
 * handed to it are either a {@link Full} (an ordinary class with all nine methods) or a proxy
 * implementing one small interface per method that it is meant to have.
 */
final class ProjDescriptor {
    static final String GET_USER = "getUser";
    static final String GET_PROJECT_NAME = "getProjectName";
    static final String GET_LOCAL_PATH = "getLocalPath";
    static final String RE_GET_LOCAL_PATH = "reGetLocalPath";
    static final String GET_AUX_PROJ_PATH = "getAuxProjPath";
    static final String SET_PROJECT_NAME = "setProjectName";
    static final String SET_AUX_PROJ_PATH = "setAuxProjPath";
    static final String SET_USER = "setUser";
    static final String SET_LOCAL_PATH = "setLocalPath";

    /** Every method of a descriptor. */
    static final List<String> METHODS = List.of(GET_USER, GET_PROJECT_NAME, GET_LOCAL_PATH,
            RE_GET_LOCAL_PATH, GET_AUX_PROJ_PATH, SET_PROJECT_NAME, SET_AUX_PROJ_PATH, SET_USER,
            SET_LOCAL_PATH);
    /** The setters in the order the library calls them after a success. */
    static final List<String> SETTERS = List.of(SET_PROJECT_NAME, SET_AUX_PROJ_PATH, SET_USER,
            SET_LOCAL_PATH);

    /** The value each getter returns; the setters replace user, projectName, localPath, auxProjPath. */
    private final Map<String, String> values = new LinkedHashMap<>();
    private final List<String> calls = new ArrayList<>();
    private final Map<String, RuntimeException> throwing = new HashMap<>();

    /** A descriptor whose getters return these texts (reGetLocalPath its own one). */
    ProjDescriptor(String user, String projectName, String localPath, String reLocalPath,
            String auxProjPath) {
        values.put(GET_USER, user);
        values.put(GET_PROJECT_NAME, projectName);
        values.put(GET_LOCAL_PATH, localPath);
        values.put(RE_GET_LOCAL_PATH, reLocalPath);
        values.put(GET_AUX_PROJ_PATH, auxProjPath);
    }

    /** The descriptor "user", "project", "local", "relocal", "aux". */
    static ProjDescriptor standard() {
        return new ProjDescriptor("user", "project", "local", "relocal", "aux");
    }

    /** Makes {@code method} throw {@code exception} (after recording the call). */
    ProjDescriptor throwing(String method, RuntimeException exception) {
        check(method);
        throwing.put(method, exception);
        return this;
    }

    /** Changes what a getter returns. */
    ProjDescriptor value(String getter, String value) {
        check(getter);
        values.put(getter, value);
        return this;
    }

    String value(String getter) {
        return values.get(getter);
    }

    /** The calls made so far, each rendered by {@link #getterCall} or {@link #setterCall}. */
    List<String> calls() {
        return new ArrayList<>(calls);
    }

    /** Forgets the calls made so far. */
    void clearCalls() {
        calls.clear();
    }

    /** An ordinary object with all nine methods. */
    Object full() {
        return new Full(this);
    }

    /** An object whose class has every method except {@code missing}. */
    Object without(String... missing) {
        List<String> gone = Arrays.asList(missing);
        gone.forEach(ProjDescriptor::check);
        List<Class<?>> interfaces = new ArrayList<>();
        for (int i = 0; i < METHODS.size(); i++) {
            if (!gone.contains(METHODS.get(i))) {
                interfaces.add(INTERFACES.get(i));
            }
        }
        InvocationHandler handler = (proxy, method, args) -> {
            String name = method.getName();
            if (name.startsWith("get") || name.equals(RE_GET_LOCAL_PATH)) {
                return get(name);
            }
            if (name.startsWith("set")) {
                set(name, (String) args[0]);
                return null;
            }
            // Object's methods (toString for a failure message, ...)
            switch (name) {
                case "toString":
                    return "descriptor without " + gone;
                case "hashCode":
                    return System.identityHashCode(proxy);
                case "equals":
                    return proxy == args[0];
                default:
                    throw new UnsupportedOperationException(name);
            }
        };
        return Proxy.newProxyInstance(ProjDescriptor.class.getClassLoader(),
                interfaces.toArray(new Class<?>[0]), handler);
    }

    /** How a getter call is recorded. */
    static String getterCall(String getter) {
        return getter + "()";
    }

    /** How a setter call is recorded: the value quoted, or null. */
    static String setterCall(String setter, String value) {
        return setter + "(" + render(value) + ")";
    }

    /** The four setter calls of a write-back, in the library's order. */
    static List<String> writeBack(String projectName, String auxProjPath, String user,
            String localPath) {
        return List.of(setterCall(SET_PROJECT_NAME, projectName),
                setterCall(SET_AUX_PROJ_PATH, auxProjPath), setterCall(SET_USER, user),
                setterCall(SET_LOCAL_PATH, localPath));
    }

    /** A Java text quoted for a call record: control and non-ASCII characters as \\uXXXX. */
    static String render(String value) {
        if (value == null) {
            return "null";
        }
        StringBuilder sb = new StringBuilder("\"");
        for (int i = 0; i < value.length(); i++) {
            char c = value.charAt(i);
            if (c < 0x20 || c >= 0x7f || c == '"' || c == '\\') {
                sb.append(String.format("\\u%04x", (int) c));
            } else {
                sb.append(c);
            }
        }
        return sb.append('"').toString();
    }

    private static void check(String method) {
        if (!METHODS.contains(method)) {
            throw new IllegalArgumentException("not a descriptor method: " + method);
        }
    }

    private String get(String getter) {
        calls.add(getterCall(getter));
        RuntimeException e = throwing.get(getter);
        if (e != null) {
            throw e;
        }
        return values.get(getter);
    }

    private void set(String setter, String value) {
        calls.add(setterCall(setter, value));
        RuntimeException e = throwing.get(setter);
        if (e != null) {
            throw e;
        }
        switch (setter) {
            case SET_PROJECT_NAME:
                values.put(GET_PROJECT_NAME, value);
                break;
            case SET_AUX_PROJ_PATH:
                values.put(GET_AUX_PROJ_PATH, value);
                break;
            case SET_USER:
                values.put(GET_USER, value);
                break;
            default:
                values.put(GET_LOCAL_PATH, value);
                values.put(RE_GET_LOCAL_PATH, value);
                break;
        }
    }

    /** An ordinary descriptor class. */
    public static final class Full {
        private final ProjDescriptor d;

        Full(ProjDescriptor d) {
            this.d = d;
        }

        public String getUser() {
            return d.get(GET_USER);
        }

        public String getProjectName() {
            return d.get(GET_PROJECT_NAME);
        }

        public String getLocalPath() {
            return d.get(GET_LOCAL_PATH);
        }

        public String reGetLocalPath() {
            return d.get(RE_GET_LOCAL_PATH);
        }

        public String getAuxProjPath() {
            return d.get(GET_AUX_PROJ_PATH);
        }

        public void setProjectName(String value) {
            d.set(SET_PROJECT_NAME, value);
        }

        public void setAuxProjPath(String value) {
            d.set(SET_AUX_PROJ_PATH, value);
        }

        public void setUser(String value) {
            d.set(SET_USER, value);
        }

        public void setLocalPath(String value) {
            d.set(SET_LOCAL_PATH, value);
        }

        @Override
        public String toString() {
            return "descriptor " + d.values;
        }
    }

    // One interface per method, in the order of METHODS, for the proxies of without().
    interface GetUser {
        String getUser();
    }

    interface GetProjectName {
        String getProjectName();
    }

    interface GetLocalPath {
        String getLocalPath();
    }

    interface ReGetLocalPath {
        String reGetLocalPath();
    }

    interface GetAuxProjPath {
        String getAuxProjPath();
    }

    interface SetProjectName {
        void setProjectName(String value);
    }

    interface SetAuxProjPath {
        void setAuxProjPath(String value);
    }

    interface SetUser {
        void setUser(String value);
    }

    interface SetLocalPath {
        void setLocalPath(String value);
    }

    private static final List<Class<?>> INTERFACES = List.of(GetUser.class, GetProjectName.class,
            GetLocalPath.class, ReGetLocalPath.class, GetAuxProjPath.class, SetProjectName.class,
            SetAuxProjPath.class, SetUser.class, SetLocalPath.class);
}
