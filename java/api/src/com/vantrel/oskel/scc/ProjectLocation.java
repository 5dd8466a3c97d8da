package com.vantrel.oskel.scc;

import java.nio.file.Path;

/**
 * The four texts that name a source-control project: user, project name, local path and aux
 * project path. What each means beyond its name is the provider's business; the aux project path
 * is often where the provider keeps its store (the provider's label for it is shown by its
 * dialogs).
 *
 * <p>The user and the local path may hold 260 bytes, the project name and the aux project path
 * 300 bytes, in the encoding of the platform's locale. Null components become empty texts.
 *
 * @param user the user name
 * @param projectName the project name
 * @param localPath the local working folder
 * @param auxProjPath the aux project path
 */
public record ProjectLocation(String user, String projectName, String localPath,
        String auxProjPath) {
    /** Longest user name and local path, in bytes of the locale's encoding. */
    public static final int TEXT_LIMIT = 260;
    /** Longest project name and aux project path, in bytes of the locale's encoding. */
    public static final int PROJECT_TEXT_LIMIT = 300;

    /**
     * Replaces null components by empty texts.
     *
     * @param user the user name
     * @param projectName the project name
     * @param localPath the local working folder
     * @param auxProjPath the aux project path
     */
    public ProjectLocation {
        user = user == null ? "" : user;
        projectName = projectName == null ? "" : projectName;
        localPath = localPath == null ? "" : localPath;
        auxProjPath = auxProjPath == null ? "" : auxProjPath;
    }

    /**
     * A location with a local folder given as a path, made absolute.
     *
     * @param user the user name
     * @param projectName the project name
     * @param localPath the local working folder
     * @param auxProjPath the aux project path, may be null
     * @return the location
     */
    public static ProjectLocation of(String user, String projectName, Path localPath,
            String auxProjPath) {
        return new ProjectLocation(user, projectName,
                localPath == null ? "" : localPath.toAbsolutePath().normalize().toString(),
                auxProjPath);
    }

    /**
     * This location with another user.
     *
     * @param value the user name
     * @return a new location
     */
    public ProjectLocation withUser(String value) {
        return new ProjectLocation(value, projectName, localPath, auxProjPath);
    }

    /**
     * This location with another project name.
     *
     * @param value the project name
     * @return a new location
     */
    public ProjectLocation withProjectName(String value) {
        return new ProjectLocation(user, value, localPath, auxProjPath);
    }

    /**
     * This location with another local path.
     *
     * @param value the local working folder
     * @return a new location
     */
    public ProjectLocation withLocalPath(String value) {
        return new ProjectLocation(user, projectName, value, auxProjPath);
    }

    /**
     * This location with another aux project path.
     *
     * @param value the aux project path
     * @return a new location
     */
    public ProjectLocation withAuxProjPath(String value) {
        return new ProjectLocation(user, projectName, localPath, value);
    }

    /** Checks every text against its limit and the locale's encoding. */
    void check() {
        NativeText.check(user, "user name", TEXT_LIMIT);
        NativeText.check(projectName, "project name", PROJECT_TEXT_LIMIT);
        NativeText.check(localPath, "local path", TEXT_LIMIT);
        NativeText.check(auxProjPath, "aux project path", PROJECT_TEXT_LIMIT);
    }
}
