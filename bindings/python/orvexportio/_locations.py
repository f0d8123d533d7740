"""Where this copy of the package looks for the libraries, besides the places
every copy looks. The build writes its own version of this file into the
copies it makes: the one `cmake --install` puts in place names the library
folders of the install, relative to the package folder; the one in the build
tree names the build's own folders."""

from typing import Tuple

#: Folders relative to the package folder (an installed tree).
INSTALLED_FOLDERS: Tuple[str, ...] = ()

#: Absolute folders of a build tree.
BUILD_FOLDERS: Tuple[str, ...] = ()
