extends Node
# Loads every file named in res://velmora_check/list.json with the engine's own
# loaders and prints what it found, one line per file, for the node side to
# compare with the sprite-sheet JSON. Engine errors printed between a file's
# BEGIN and its result line belong to that file.

const LIST := "res://velmora_check/list.json"
const TAG := "VELMORA "

var _textures := {}


func _ready() -> void:
	var list = JSON.parse_string(FileAccess.get_file_as_string(LIST))
	if typeof(list) != TYPE_DICTIONARY:
		_say({"event": "fatal", "reason": "cannot read " + LIST})
		get_tree().quit(1)
		return
	_say({"event": "start", "version": Engine.get_version_info()["string"]})
	# The atlas PNGs stand where an editor import would put their textures: decoded
	# by the engine's PNG loader and registered at their own paths, so the
	# resources that name them resolve to these very objects.
	for path in list["pngs"]:
		_say({"event": "begin", "file": path})
		_say(_register_png(path))
	for path in list["files"]:
		_say({"event": "begin", "file": path})
		var report := await _check(path)
		_say(report)
	# No quit(): the driver closes the page, so engine teardown messages (not about
	# our files) never mix with the results.
	_say({"event": "done"})


func _say(what: Dictionary) -> void:
	print(TAG + JSON.stringify(what))


func _register_png(path: String) -> Dictionary:
	var report := {"event": "result", "file": path, "kind": "png"}
	var bytes := FileAccess.get_file_as_bytes(path)
	if bytes.is_empty():
		report["error"] = "no such file in the pack"
		return report
	var image := Image.new()
	var err := image.load_png_from_buffer(bytes)
	if err != OK:
		report["error"] = "PNG refused: " + error_string(err)
		return report
	var texture := ImageTexture.create_from_image(image)
	texture.take_over_path(path)
	_textures[path] = texture
	report["size"] = [image.get_width(), image.get_height()]
	report["format"] = image.get_format()
	return report


func _check(path: String) -> Dictionary:
	var report := {"event": "result", "file": path}
	if not FileAccess.file_exists(path):
		report["error"] = "no such file in the pack"
		return report
	var res := ResourceLoader.load(path, "", ResourceLoader.CACHE_MODE_IGNORE)
	if res == null:
		report["error"] = "ResourceLoader.load returned null"
		return report
	report["class"] = res.get_class()
	if res is SpriteFrames:
		report["animations"] = _animations(res)
	elif res is AtlasTexture:
		report["texture"] = _texture(res)
	elif res is PackedScene:
		report["scene"] = await _scene(res)
	return report


func _animations(frames: SpriteFrames) -> Array:
	var out := []
	for name in frames.get_animation_names():
		var textures := []
		for i in frames.get_frame_count(name):
			textures.append(_texture(frames.get_frame_texture(name, i)))
			textures[-1]["duration"] = frames.get_frame_duration(name, i)
		out.append({
			"name": String(name),
			"loop": frames.get_animation_loop(name),
			"speed": frames.get_animation_speed(name),
			"frames": textures,
		})
	return out


func _rect(r: Rect2) -> Array:
	return [r.position.x, r.position.y, r.size.x, r.size.y]


# What a texture is and what it draws from: for an AtlasTexture its region and
# margin and whether its atlas is the registered PNG texture (the same object).
func _texture(tex) -> Dictionary:
	if tex == null:
		return {"class": "null"}
	var out := {"class": tex.get_class(), "path": tex.resource_path}
	if tex is AtlasTexture:
		out["region"] = _rect(tex.region)
		out["margin"] = _rect(tex.margin)
		out["filter_clip"] = tex.filter_clip
		out["size"] = [tex.get_width(), tex.get_height()]
		out["atlas"] = _texture(tex.atlas)
	elif tex is CanvasTexture:
		out["diffuse"] = _texture(tex.diffuse_texture)
		out["normal"] = _texture(tex.normal_texture)
	elif tex is ImageTexture:
		out["registered"] = _textures.get(tex.resource_path) == tex
		out["size"] = [tex.get_width(), tex.get_height()]
	return out


# Instantiates the scene, keeps it in the tree for one physics frame and reports
# its nodes, the polygons and how many shapes the physics server built from them.
func _scene(packed: PackedScene) -> Dictionary:
	var root := packed.instantiate()
	if root == null:
		return {"error": "instantiate() returned null"}
	add_child(root)
	await get_tree().physics_frame
	var out := {"root": root.get_class(), "in_tree": root.is_inside_tree(), "nodes": []}
	if root is CollisionObject2D:
		out["shapes"] = PhysicsServer2D.body_get_shape_count(root.get_rid())
	for node in root.get_children():
		var item := {"name": String(node.name), "class": node.get_class()}
		if node is CollisionPolygon2D:
			var points := []
			for p in node.polygon:
				points.append([p.x, p.y])
			item["polygon"] = points
			item["disabled"] = node.disabled
		elif node is Sprite2D:
			item["centered"] = node.centered
			item["texture"] = _texture(node.texture)
		out["nodes"].append(item)
	# Freed at the end of the frame, never from inside the physics frame signal
	# this function resumed from: the engine may still be walking its bodies.
	root.queue_free()
	await get_tree().process_frame
	return out
