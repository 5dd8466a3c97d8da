package com.vantrel.oskel.scc;

/**
 * The project descriptor the natives read and write: the four project texts behind the getters
 * and setters that the library looks up by name. {@code reGetLocalPath} is the getter the library
 * uses when it opens a project; it gives the same local path.
 *
 * <p>Used by one native call at a time, under the call lock.
 */
final class ProjectDescriptor {
    private String user;
    private String projectName;
    private String localPath;
    private String auxProjPath;

    ProjectDescriptor(ProjectLocation location) {
        user = location.user();
        projectName = location.projectName();
        localPath = location.localPath();
        auxProjPath = location.auxProjPath();
    }

    ProjectLocation location() {
        return new ProjectLocation(user, projectName, localPath, auxProjPath);
    }

    public String getUser() {
        return user;
    }

    public String getProjectName() {
        return projectName;
    }

    public String getLocalPath() {
        return localPath;
    }

    public String reGetLocalPath() {
        return localPath;
    }

    public String getAuxProjPath() {
        return auxProjPath;
    }

    // A text the library could not convert back arrives as null: keep the text as it was rather
    // than lose it.
    public void setUser(String value) {
        if (value != null) {
            user = value;
        }
    }

    public void setProjectName(String value) {
        if (value != null) {
            projectName = value;
        }
    }

    public void setLocalPath(String value) {
        if (value != null) {
            localPath = value;
        }
    }

    public void setAuxProjPath(String value) {
        if (value != null) {
            auxProjPath = value;
        }
    }
}
