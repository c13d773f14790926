/* Quillo: RTF to HTML/XML conversion engine, public C interface of libquillo.so.
 *
 * Two interfaces share one engine implementation:
 *   - The process-wide functions (QuilloInit, QuilloConvertRTF, ...) work on one default engine
 *     that the library keeps. Call them from one thread at a time.
 *   - The engine handles (QuilloEngineCreate, QuilloEngineConvertRTF, ...) each own a complete
 *     engine of their own: settings, stored messages, callback, file table, translation tables.
 *     Different handles may be used from different threads at the same time; one handle is used by
 *     one thread at a time (a handle may move between threads between calls). The default engine
 *     and the handles never see one another's settings, messages or callbacks.
 * Never start a conversion from inside a host callback on the engine that called it. All text is
 * 8-bit (Windows-1252 for text produced from RTF); all integers are 32-bit signed.
 *
 * What engines share: nothing mutable. Each engine loads its own copy of the data files (the
 * control-word table, character maps, translation files). The library never changes the
 * environment, the working directory, the locale or signal handling; it reads the environment
 * (RTFLIBDIR, XDG_DATA_DIRS, TZ through localtime_r), so a host must not change those while
 * conversions run. Two engines writing the same output file at once is the host's to avoid.
 *
 * Ownership, in short:
 *   - Texts passed in are only read; the engine copies what it keeps.
 *   - QuilloConvertStrRTF returns an array the caller owns: release it with QuilloFreeResults.
 *   - QuilloGetFilename/QuilloGetString return texts owned by the engine, valid until the next
 *     QuilloConvertStrRTF2; copy them if you need them longer.
 *   - QuilloExpandString returns a malloc'ed text the caller releases with free().
 *   - QuilloVersion returns a constant text; QuilloLastMessages returns a text owned by the
 *     engine, valid until the next QuilloLastMessages call.
 *   - The "VB" standard-call forwarders that return text return a new BSTR, released with
 *     QuilloSysFreeString.
 *   - A host callback that returns text must return a malloc'ed block (or NULL); the engine frees
 * it.
 */
#ifndef QUILLO_QUILLO_H
#define QUILLO_QUILLO_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define QUILLO_API __attribute__((visibility("default")))
#else
#define QUILLO_API
#endif

/* The version of this header; QuilloVersion() gives the version of the library in use. */
#define QUILLO_VERSION "5.0.2"
#define QUILLO_VERSION_MAJOR 5
#define QUILLO_VERSION_MINOR 0
#define QUILLO_VERSION_PATCH 2

/** One output of a string conversion. `data` is NUL-terminated but may hold NULs (pictures);
 *  `length` is the byte count. The main output is named "-." followed by the HtmlExt setting. */
typedef struct ConvertedOutput {
  char* name;
  char* data;
  int32_t length;
} ConvertedOutput;

/** Host callback: `why` is the reason (1 for messages and progress, others from the translation
 *  file's CallBack calls), `argv` holds `argc` texts (NULL when argc is 0). Progress arrives as
 *  argv[0] = "MSG_PERCENT", argv[1] = the percentage. Return NULL or a malloc'ed text, which is
 *  inserted into the expansion that made the call and then freed by the engine. */
typedef char* (*QuilloCallback)(int why, int argc, char** argv);

/** Initialises the engine (once) and sets the program directory from `programPath` (may be NULL).
 *  Forgets options stored by QuilloSetOptions. Returns 0, or 1 when initialisation failed. */
QUILLO_API int QuilloInit(const char* programPath);

/** Stores a copy of an options text (words as on a command line; '...' groups words with blanks,
 *  "..." too but keeps the quotes) for QuilloConvertRTF2 and QuilloConvertStrRTF2. NULL forgets
 *  the stored text. Always returns 0. */
QUILLO_API int QuilloSetOptions(const char* options);

/** Converts the RTF file `rtfFile` with the option words argv[0..argc-1] (no program path).
 *  Returns 0 on success, -1 for an argument error, 1 when the conversion failed. */
QUILLO_API int QuilloConvertRTF(const char* rtfFile, int argc, char** argv);

/** As QuilloConvertRTF, with the options stored by QuilloSetOptions. */
QUILLO_API int QuilloConvertRTF2(const char* rtfFile);

/** Converts the RTF text `rtfText` in memory. Every file the conversion writes is kept in memory
 *  and returned: the result is an array of *count records owned by the caller (release it with
 *  QuilloFreeResults), or NULL. *count is -1 when the engine could not be initialised and 0 when
 *  the conversion failed. */
QUILLO_API ConvertedOutput* QuilloConvertStrRTF(const char* rtfText, int argc, char** argv,
                                                int* count);

/** As QuilloConvertStrRTF with the stored options; the results are kept by the engine and read
 *  back with QuilloGetFilename/QuilloGetString/QuilloGetLength. Returns the number of results,
 *  or -1 when the engine could not be initialised. */
QUILLO_API int QuilloConvertStrRTF2(const char* rtfText);

/** Name, data and length of result `index` of the last QuilloConvertStrRTF2; NULL (0 for the
 *  length) when the index is out of range. The texts stay owned by the engine. */
QUILLO_API char* QuilloGetFilename(int index);
QUILLO_API char* QuilloGetString(int index);
QUILLO_API int QuilloGetLength(int index);

/** Sets a named setting. Returns its index in the store, or 1 when either argument is NULL. */
QUILLO_API int QuilloSetString(const char* name, const char* value);

/** Expands `text` with the expansion language against the current settings. Returns a malloc'ed
 *  text the caller frees, or NULL when the expansion yields nothing. */
QUILLO_API char* QuilloExpandString(const char* text);

/** Registers the host callback; NULL removes it. Always returns 0. */
QUILLO_API int QuilloSetCallback(QuilloCallback callback);

/** Releases an array returned by QuilloConvertStrRTF (names and data included). NULL is allowed. */
QUILLO_API void QuilloFreeResults(ConvertedOutput* results, int count);

/** The library's version, "5.0.2" (a constant text; never free it). */
QUILLO_API const char* QuilloVersion(void);

/** The messages of the last conversion (file, string or batch) as plain text, one message per
 *  line: "INPUT:LINE:POSITION: CODE: text", where INPUT is left out in string conversions and
 *  before an input was named, and LINE:POSITION when no RTF had been read; a file that could not be
 * opened or written adds the system's reason (": No such file or directory"); further lines of a
 * message are indented by two blanks. Progress reports and ignored messages are not included.
 * Returns "" when there were none (never NULL). The text belongs to the engine and stays valid
 * until the next QuilloLastMessages call; a conversion does not change it. */
QUILLO_API const char* QuilloLastMessages(void);

/* ---- Engine handles ------------------------------------------------------------------------
 * A re-entrant interface beside the process-wide one: each QuilloEngine is an engine of its own.
 * Every function taking a handle accepts NULL and then fails as documented (-1, NULL, 1...). */

/** An engine: opaque. Create with QuilloEngineCreate, release with QuilloEngineDestroy. */
typedef struct QuilloEngine QuilloEngine;

/** Host callback of a handle: as QuilloCallback, with the `userData` given to
 *  QuilloEngineSetCallback first, so one function can serve many engines. */
typedef char* (*QuilloEngineCallback)(void* userData, int why, int argc, char** argv);

/** Creates and initialises an engine; `programPath` (may be NULL) names the program whose folder
 *  is searched for the data files, as for QuilloInit. Returns NULL when memory runs out or the
 *  engine could not be initialised. Safe to call from any thread. */
QUILLO_API QuilloEngine* QuilloEngineCreate(const char* programPath);

/** Releases an engine and everything it owns (results it returned stay the caller's). NULL is
 *  allowed. The handle must not be in use by another thread. */
QUILLO_API void QuilloEngineDestroy(QuilloEngine* engine);

/** As QuilloConvertRTF on `engine`. Returns -1 for a NULL handle. */
QUILLO_API int QuilloEngineConvertRTF(QuilloEngine* engine, const char* rtfFile, int argc,
                                      char** argv);

/** As QuilloConvertStrRTF on `engine`, for an RTF text of `length` bytes (it may hold NUL bytes,
 *  as \bin data does). The result belongs to the caller (QuilloFreeResults). *count is -1 for a
 *  NULL handle or when the engine could not be initialised, 0 when the conversion failed. */
QUILLO_API ConvertedOutput* QuilloEngineConvertStrRTF(QuilloEngine* engine, const char* rtfText,
                                                      uint32_t length, int argc, char** argv,
                                                      int* count);

/** As QuilloSetString on `engine`. Returns 1 for a NULL argument. */
QUILLO_API int QuilloEngineSetString(QuilloEngine* engine, const char* name, const char* value);

/** As QuilloExpandString on `engine` (a malloc'ed text the caller frees, or NULL). */
QUILLO_API char* QuilloEngineExpandString(QuilloEngine* engine, const char* text);

/** Registers the engine's host callback and the `userData` handed to it; NULL removes it. The
 *  callback runs on the thread converting on `engine`. Returns 0, or -1 for a NULL handle. */
QUILLO_API int QuilloEngineSetCallback(QuilloEngine* engine, QuilloEngineCallback callback,
                                       void* userData);

/** As QuilloLastMessages for the last conversion of `engine`; "" for a NULL handle. The text
 *  belongs to the engine until its next QuilloEngineLastMessages call or its destruction. */
QUILLO_API const char* QuilloEngineLastMessages(QuilloEngine* engine);

/* BSTR layer (Windows memory layout: 32-bit byte length, the bytes, two NUL bytes; the pointer
 * points at the bytes). The forwarders below return BSTRs made this way. */
typedef char* QuilloBSTR;
/** Allocates a BSTR of `length` wide characters (2 * length bytes); copies 2 * length bytes of
 *  `source` when it is not NULL. Returns NULL when memory runs out. */
QUILLO_API QuilloBSTR QuilloSysAllocStringLen(const void* source, uint32_t length);
/** Releases a BSTR from this library; NULL is allowed. */
QUILLO_API void QuilloSysFreeString(QuilloBSTR bstr);
/** Byte length stored in front of a BSTR (0 for NULL). */
QUILLO_API uint32_t QuilloSysStringByteLen(QuilloBSTR bstr);

/* Standard-call forwarders for scripting hosts, exported only under their Windows-decorated names
 * (load them with dlsym):
 *   "_QuilloInitVB@4"           int (const char* programPath)          -> QuilloInit
 *   "_QuilloSetOptionsVB@4"     int (const char* options)              -> QuilloSetOptions
 *   "_QuilloSetStringVB@8"      int (const char* name, const char* v)  -> QuilloSetString
 *   "_QuilloConvertRTFVB@4"     int (const char* rtfFile)              -> QuilloConvertRTF2
 *   "_QuilloConvertStrRTFVB@4"  int (const char* rtfText)              -> QuilloConvertStrRTF2
 *   "_QuilloGetLengthVB@4"      int (int index)                        -> QuilloGetLength
 *   "_QuilloGetFilenameVB@4"    QuilloBSTR (int index)   copy of QuilloGetFilename, NULL stays NULL
 *   "_QuilloGetStringVB@4"      QuilloBSTR (int index)   copy of QuilloGetString, NULL stays NULL
 *   "_QuilloExpandStringVB@4"   QuilloBSTR (const char*) copy of QuilloExpandString, NULL stays
 * NULL A returned BSTR holds the text's bytes (NUL included) unchanged, in a block sized for as
 * many wide characters as the text has bytes. */

#ifdef __cplusplus
}
#endif

#endif /* QUILLO_QUILLO_H */
