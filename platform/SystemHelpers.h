#pragma once

#include <optional>
#include <string>
#include <vector>

/** The operating-system requests of the application and its pages. */

/** The resources directory, "/", then the file name, unchanged. The directory is found from the
    running executable (<prefix>/bin/exe -> <prefix>/share/zembrik-authorizer), never from the
    current directory.
*/
[[nodiscard]] std::string getResourcePath (const std::string& fileName);

/** Element 1 of the process's own argument list, byte for byte; "" when there is none. */
[[nodiscard]] std::string getFirstArgument();

/** Start the installed application of a product variant, detached, and return at once. Nothing
    happens when it is not installed.
*/
void launchZembrikApp();
void launchZembrikTeshApp();
void launchZembrikPlundarApp();

/** Starts the executable at `path` in a session of its own, without a shell, and returns at once
    without waiting for it or reading an answer. Nothing happens when nothing executable is there.
*/
void launchApplication (const std::string& path);

/** Test-only seams: replace the resources directory or the process's argument list. */
void setResourceDirectoryForTesting (std::optional<std::string> directory);
void setArgumentsForTesting (std::optional<std::vector<std::string>> arguments);
