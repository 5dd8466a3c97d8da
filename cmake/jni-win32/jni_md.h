/*
 * Machine-dependent JNI types and calling convention for Windows, used with
 * the JDK's own jni.h when cross-compiling with mingw-w64 (the Linux JDK ships
 * only the Linux flavour of this header). The definitions match what a Java VM
 * for Windows expects: natives are exported from the DLL and use the stdcall
 * convention, which on 32-bit Windows pops the arguments in the callee and
 * decorates the symbol with the argument byte count (_name@N); on 64-bit
 * Windows the keyword is ignored and names are plain.
 *
 * jint is `long` (32 bits on Windows in both widths), not `int`: a jint* does
 * not convert implicitly to an int32_t*, and printf wants %ld for it.
 */
#ifndef _JAVASOFT_JNI_MD_H_
#define _JAVASOFT_JNI_MD_H_

#ifndef JNIEXPORT
#define JNIEXPORT __declspec(dllexport)
#endif
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef long jint;
typedef __int64 jlong;
typedef signed char jbyte;

#endif /* !_JAVASOFT_JNI_MD_H_ */
