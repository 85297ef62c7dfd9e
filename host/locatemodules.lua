-- Finds the Lua application: loose files in the source tree, or the bundle beside the program,
-- whose own loader makes its modules reachable to require. Then sets the search paths.
local bundlepath, bundlename, basepath, paths, cpaths, libext = ...

print("directory", bundlepath)
print("directory", basepath)

local content
local file = bundlename and io.open(bundlepath .. "/" .. bundlename, "rb")
if file then
    -- One read of the known size: reading "a" would grow its buffer step by step.
    local size = file:seek("end")
    file:seek("set")
    content = file:read(size) or ""
    file:close()
end

if content and #content > 0 then
    basepath = bundlepath
    paths = ""
    local digits = content:sub(-16):match("^%d+")
    local size = tonumber(digits or error("bundle trailer does not start with the loader size"))
    print("size of bundle:", #content)
    print("size of loader:", size)
    local loader = content:sub(#content - 16 - size + 1, #content - 16)
    assert(#loader == size, "bundle is shorter than its loader")
    assert(loadstring(loader, "=bundle loader"))(content)
end

-- Each entry becomes directory/entry (an entry without "?" names a folder of modules), split at
-- both kinds of slash, with "." dropped and ".." taking back the previous component.
local function expand(list, directory, extension)
    local leading = directory:match("^[/\\]") and "/" or ""
    local expanded = {}
    for entry in list:gmatch("[^;]+") do
        if not entry:find("?", 1, true) then
            entry = entry .. "/?." .. extension
        end
        local components = {}
        for component in (directory .. "/" .. entry):gmatch("[^/\\]+") do
            if component == ".." then
                components[#components] = nil
            elseif component ~= "." then
                components[#components + 1] = component
            end
        end
        expanded[#expanded + 1] = leading .. table.concat(components, "/")
    end
    return table.concat(expanded, ";")
end

package.path = expand(paths, basepath, "lua")
package.cpath = expand(cpaths, basepath, libext)
print("package.path", package.path)
print("package.cpath", package.cpath)
