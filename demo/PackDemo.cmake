# Copies the sample product to TREE, gives it what git cannot hold (modes
# other than 644 and 755, a hard link, fixed times), and packs it into
# OUTPUT with INSTALLDATA.
#
#   cmake -DSOURCE=demo/product -DTREE=build/demo/product
#         -DOUTPUT=build/demo/install.data -DINSTALLDATA=build/installdata
#         -P demo/PackDemo.cmake
foreach(variable SOURCE TREE OUTPUT INSTALLDATA)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "PackDemo.cmake needs -D${variable}=...")
  endif()
endforeach()

# A fresh copy each time; the copy may hold directories without write
# permission from the last run.
if(EXISTS ${TREE})
  execute_process(COMMAND chmod -R u+rwX ${TREE})
  file(REMOVE_RECURSE ${TREE})
endif()
file(COPY ${SOURCE}/ DESTINATION ${TREE})

# Modes that show the installer keeps them.
file(CHMOD ${TREE}/bin/vnt01 PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
     GROUP_READ GROUP_EXECUTE)
file(CHMOD ${TREE}/lib/libvntrt.so.1 PERMISSIONS OWNER_READ OWNER_EXECUTE GROUP_READ
     GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
file(CHMOD ${TREE}/lib/libvntrt.a PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ)
file(CHMOD ${TREE}/share/doc/README ${TREE}/share/doc/LICENSE PERMISSIONS OWNER_READ
     GROUP_READ WORLD_READ)
file(CHMOD ${TREE}/etc/vantorel.conf PERMISSIONS OWNER_READ OWNER_WRITE)
file(CHMOD ${TREE}/etc PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
     GROUP_EXECUTE)

# The second name of the license: a hard link, which git cannot store.
file(CREATE_LINK ${TREE}/share/doc/LICENSE ${TREE}/share/doc/COPYING)

# One fixed time for every file, so that the installed tree shows it too.
execute_process(COMMAND find ${TREE} -type f -exec touch -d "2024-03-14 15:09:26" {} +
                RESULT_VARIABLE touched)
if(NOT touched EQUAL 0)
  message(FATAL_ERROR "cannot set the times of ${TREE}")
endif()

execute_process(COMMAND ${INSTALLDATA} create -o ${OUTPUT} -C ${TREE} bin etc lib share
                RESULT_VARIABLE packed)
if(NOT packed EQUAL 0)
  message(FATAL_ERROR "installdata failed for ${OUTPUT}")
endif()
